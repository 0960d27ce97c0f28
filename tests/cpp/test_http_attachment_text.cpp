#include "core/http_attachment_text.hpp"

#include <gtest/gtest.h>

using namespace lumox::core;

TEST(HttpAttachmentText, SecretsAreMaskedAndTheRestShownAsSent) {
    HttpMessageText request{"POST http://127.0.0.1/api/login",
                            {{"Content-Type", "application/json"},
                             {"Authorization", "Bearer abc.def"},
                             {"X-Api-Key", "k-1"},
                             {"cookie", "session=s-1"},
                             {"X-Refresh-Token", "plain"}},
                            "{\"user\": \"张三\"}"};
    EXPECT_EQ(http_message_text(request), "POST http://127.0.0.1/api/login\n"
                                          "Content-Type: application/json\n"
                                          "Authorization: Bearer ***\n"
                                          "X-Api-Key: ***\n"
                                          "cookie: ***\n"
                                          "X-Refresh-Token: ***\n"
                                          "\n"
                                          "{\"user\": \"张三\"}");
    EXPECT_FALSE(is_secret_header("Content-Length"));
}

TEST(HttpAttachmentText, BodiesAreCutAtACharacterAndBinaryIsDescribed) {
    HttpMessageText response{"HTTP/1.1 200 OK", {}, "苹果苹果"}; // 12 bytes
    EXPECT_EQ(http_message_text(response, 7),
              "HTTP/1.1 200 OK\n\n苹果\n... (6 more bytes not shown)\n");
    response.body = std::string("\x89PNG\r\n\x1a\n", 8);
    EXPECT_EQ(http_message_text(response), "HTTP/1.1 200 OK\n\n(8 bytes of binary data)\n");
    response.body.clear();
    EXPECT_EQ(http_message_text(response), "HTTP/1.1 200 OK\n\n(no body)\n");
}

TEST(HttpAttachmentText, BodiesPythonCannotDecodeAreBinary) {
    // The text goes to Python as str: overlong forms, surrogates and code points past
    // U+10FFFF would make that conversion throw.
    HttpMessageText response{"HTTP/1.1 200 OK", {}, "\xE0\x8B\xB9"};
    EXPECT_EQ(http_message_text(response), "HTTP/1.1 200 OK\n\n(3 bytes of binary data)\n");
    for (const char *body : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"}) {
        response.body = body;
        EXPECT_TRUE(http_message_text(response).ends_with(" bytes of binary data)\n")) << body;
    }
    response.body = "\xF4\x8F\xBF\xBF\xED\x9F\xBF"; // U+10FFFF and U+D7FF are fine
    EXPECT_EQ(http_message_text(response), "HTTP/1.1 200 OK\n\n" + response.body);
}
