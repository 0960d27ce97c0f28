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
    EXPECT_EQ(http_message_text(response, 7), "HTTP/1.1 200 OK\n\n苹果\n... (6 more bytes not shown)\n");
    response.body = std::string("\x89PNG\r\n\x1a\n", 8);
    EXPECT_EQ(http_message_text(response), "HTTP/1.1 200 OK\n\n(8 bytes of binary data)\n");
    response.body.clear();
    EXPECT_EQ(http_message_text(response), "HTTP/1.1 200 OK\n\n(no body)\n");
}
