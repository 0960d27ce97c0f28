"""Element finding, interactivity and touch gestures on real headless Chromium pages."""

import logging
import urllib.parse

import pytest
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.support.wait import WebDriverWait

from lumox import settings
from lumox.actlib_utils import BaseKeyWord, MyActionChains
from lumox.exchange import Exchange

LOGGER = "lumox.actlib_utils"

TWO_LISTS = """<!doctype html><html><body>
<ul id="first"><li>a1</li><li>a2</li></ul>
<ul id="second" style="color: blue"><li>b1</li><li>b2</li><li>b3</li></ul>
<input id="plain"><input id="readonly" readonly><input id="disabled" disabled>
<input id="hidden" style="display: none">
</body></html>"""

# Touch panning is off so that a swipe reaches the page as pointer events.
TOUCH_PAD = """<!doctype html><html style="touch-action: none">
<body style="margin: 0; height: 600px">
<button id="tap" style="position: absolute; left: 200px; top: 300px">tap</button>
<script>
  window.seen = [];
  for (const type of ["pointerdown", "pointerup"]) {
    document.addEventListener(type, e => window.seen.push(
      [type, e.pointerType, Math.round(e.clientX), Math.round(e.clientY)]));
  }
</script></body></html>"""


def data_url(html):
    return "data:text/html;charset=utf-8," + urllib.parse.quote(html)


@pytest.fixture
def kw(browser_keywords):
    """A keyword object holding the browser through set_driver, with a short wait."""
    return browser_keywords(BaseKeyWord, 0.5)


@pytest.fixture
def log(caplog):
    caplog.set_level(logging.DEBUG, logger=LOGGER)
    return lambda level=logging.INFO: [r.getMessage() for r in caplog.records
                                       if r.name == LOGGER and r.levelno >= level]


def test_set_driver_takes_the_fixture_session_and_makes_the_wait(browser, tmp_path):
    kw = BaseKeyWord(Exchange(str(tmp_path / "vars.yaml")), {"chrome": browser})
    assert kw._key_set_driver("chrome") is None
    assert kw.driver is browser
    assert isinstance(kw.wait, WebDriverWait)
    assert (kw.wait._driver, kw.wait._timeout, kw.wait._poll) == (
        browser, settings.lumox_ui.wait_max, settings.lumox_ui.wait_poll)


class TestFindElement:
    def test_index_picks_among_matches_and_highlights(self, kw, browser, http_service, log):
        browser.get(f"{http_service}/page")
        title = kw.find_element("#title ;; CSS_SELECTOR")
        third = kw.find_element("//ul[@class='items']/li ;; XPATH ;; 2")
        assert (title.text, third.text) == ("lumox demo", "three")
        assert third.get_attribute("style") == settings.lumox_ui.touch_css
        lines = log()
        assert lines[0] == "正在定位元素: Locator(value='#title', by='css selector', index=0)"
        assert lines[1].startswith("元素定位成功: 【h1】{")
        assert "'height'" in lines[1] and "'width'" in lines[1]
        assert any(line.endswith(", 开始等待...") for line in log(logging.DEBUG))

    def test_relative_value_searches_under_the_active_element(self, kw, browser):
        browser.get(data_url(TWO_LISTS))
        kw._activate_ele = browser.find_element("id", "second")
        assert kw.find_element("./li;;XPATH;;1").text == "b2"
        # Only values starting with ./ are relative.
        assert kw.find_element("//li;;XPATH;;1").text == "a2"
        kw._activate_ele = None
        with pytest.raises(TimeoutException):
            kw.find_element("./li")

    def test_too_few_matches_time_out_with_the_locator(self, kw, browser, log):
        browser.get(data_url(TWO_LISTS))
        with pytest.raises(TimeoutException) as error:
            kw.find_element("//ul[@id='second']/li ;; XPATH ;; 3")
        message = ("元素定位失败：等待超时， "
                   "lumox_locator=Locator(value='//ul[@id='second']/li', by='xpath', index=3)")
        assert error.value.msg == message
        assert "元素定位成功，但是数量不足: 3 <= 3" in log()
        assert log(logging.ERROR) == [message]

    def test_missing_single_element_is_waited_for(self, kw, browser, log):
        browser.get(data_url(TWO_LISTS))
        with pytest.raises(TimeoutException):
            kw.find_element("nowhere;;ID")
        assert log(logging.ERROR) == [
            "元素定位失败：等待超时， lumox_locator=Locator(value='nowhere', by='id', index=0)"]

    def test_empty_highlight_style_leaves_the_page_alone(self, kw, browser, monkeypatch):
        monkeypatch.setattr(settings.lumox_ui, "touch_css", "")
        browser.get(data_url(TWO_LISTS))
        assert kw.find_element("second;;ID").get_attribute("style") == "color: blue;"

    def test_bad_locator_fails_before_any_wait(self, kw, log):
        kw.wait = None  # the parse error comes first
        with pytest.raises(ValueError, match="未知的维度策略 value='id'"):
            kw.find_element("x;;id")
        assert log(logging.ERROR) == ["定位器解析失败: 未知的维度策略 value='id'"]


def test_interactive_elements(kw, browser):
    browser.get(data_url(TWO_LISTS))
    verdicts = {name: kw.can_interactive(browser.find_element("id", name))
                for name in ("plain", "readonly", "disabled", "hidden")}
    assert verdicts == {"plain": True, "readonly": False, "disabled": False, "hidden": False}


def test_touch_gestures_reach_the_page(browser):
    browser.get(data_url(TOUCH_PAD))
    chain = MyActionChains(browser)
    chain.touch_by_new_pointer(10, 20, 110, 120)
    chain.touch_by_new_pointer(300, 20, 350, 40)
    chain.perform()
    # Two fingers moved together: both went down before either came up.
    assert browser.execute_script("return window.seen") == [
        ["pointerdown", "touch", 10, 20], ["pointerdown", "touch", 300, 20],
        ["pointerup", "touch", 110, 120], ["pointerup", "touch", 350, 40]]

    browser.execute_script("window.seen = []")
    button = browser.find_element("id", "tap")
    chain = MyActionChains(browser)
    chain.click_by_new_pointer(button)
    chain.perform()
    # The tap lands in the middle of the element.
    rect = button.rect
    middle = [round(rect["x"] + rect["width"] / 2), round(rect["y"] + rect["height"] / 2)]
    seen = browser.execute_script("return window.seen")
    assert [event[:2] for event in seen[:2]] == [["pointerdown", "touch"], ["pointerup", "touch"]]
    for event in seen[:2]:
        assert abs(event[2] - middle[0]) <= 1 and abs(event[3] - middle[1]) <= 1
