// The scripts lumox runs in a browser page. Each does in one WebDriver request what would
// otherwise take several (find, tag name, rect, highlight, usability: one request each,
// two of them with selenium's 17 KB and 5 KB atoms).
#pragma once

#include <string>
#include <string_view>

namespace lumox::actlib_utils::page_scripts {

// Shared helpers: whether an element shows and takes input (and, for a text field, whether
// it is empty, so `input` need not clear it), and taking the highlight off
// the element that has it. The highlight adds its declarations to the element's inline
// style and remembers what they replaced, so `display: none` or the page's own colours stay
// as they were, and taking it off restores exactly those declarations (unless the page
// itself changed one since).
inline constexpr const char *kHelpers = R"JS(
var lumox = window.__lumox && window.__lumox.madeByLumox === 1 ? window.__lumox : (window.__lumox = {
  madeByLumox: 1,
  shown: function (e) {
    if (e.localName === 'option' || e.localName === 'optgroup') {
      e = e.closest('select') || e;
    }
    if (!e.isConnected || e.getClientRects().length === 0) return false;
    if (e.checkVisibility &&
        !e.checkVisibility({visibilityProperty: true, checkVisibilityCSS: true})) return false;
    var style = window.getComputedStyle(e);
    return style.visibility !== 'hidden' && style.visibility !== 'collapse';
  },
  usable: function (e) {
    var disabled = e.matches && e.matches(':disabled');
    var field = e.localName === 'input' || e.localName === 'textarea';
    return [lumox.shown(e), !disabled, e.hasAttribute('readonly'), field && e.value === ''];
  },
  unlight: function () {
    var lit = lumox.lit;
    lumox.lit = null;
    if (!lit) return;
    try {
      for (var i = 0; i < lit.saved.length; i++) {
        var s = lit.saved[i];
        if (lit.el.style.getPropertyValue(s[0]) !== s[3]) continue;
        if (s[1]) lit.el.style.setProperty(s[0], s[1], s[2]);
        else lit.el.style.removeProperty(s[0]);
      }
      if (!lit.had && !lit.el.getAttribute('style')) lit.el.removeAttribute('style');
    } catch (error) {}
  },
  light: function (e, css) {
    lumox.unlight();
    if (!css) return;
    var wanted = document.createElement('div').style;
    wanted.cssText = css;
    var lit = {el: e, had: e.hasAttribute('style'), saved: []};
    for (var i = 0; i < wanted.length; i++) {
      var name = wanted[i];
      var before = e.style.getPropertyValue(name), priority = e.style.getPropertyPriority(name);
      e.style.setProperty(name, wanted.getPropertyValue(name), wanted.getPropertyPriority(name));
      lit.saved.push([name, before, priority, e.style.getPropertyValue(name)]);
    }
    lumox.lit = lit;
  }
});
)JS";

// arguments: by, value, index, root (null: the document), highlight style. Returns null
// while nothing matches, the number of matches while there are not index + 1 of them, 'unsupported' for a strategy it does not know,
// else [element, tag name, rect, usable] with rect as WebDriver gives it and usable as
// lumox.usable does; the element is highlighted.
inline constexpr const char *kFindBody = R"JS(
var by = arguments[0], value = arguments[1], index = arguments[2];
var root = arguments[3] || document, found = [];
function quoted(text) { return '"' + text.replace(/(["\\])/g, '\\$1') + '"'; }
if (by === 'xpath') {
  var snapshot = document.evaluate(value, root, null, 7, null);
  for (var i = 0; i < snapshot.snapshotLength; i++) found.push(snapshot.snapshotItem(i));
  for (var j = 0; j < found.length; j++) {
    if (found[j].nodeType !== 1) return 'unsupported';
  }
} else if (by === 'css selector') {
  found = root.querySelectorAll(value);
} else if (by === 'id') {
  found = root.querySelectorAll('[id=' + quoted(value) + ']');
} else if (by === 'name') {
  found = root.querySelectorAll('[name=' + quoted(value) + ']');
} else if (by === 'tag name') {
  found = root.getElementsByTagName(value);
} else {
  return 'unsupported';
}
if (found.length <= index) return index > 0 ? found.length : null;
var e = found[index], r = e.getBoundingClientRect();
lumox.light(e, arguments[4]);
return [e, e.localName,
        {height: r.height, width: r.width, x: r.x + window.pageXOffset, y: r.y + window.pageYOffset},
        lumox.usable(e)];
)JS";

// arguments: element. Returns lumox.usable(element). Its "not shown" is a first answer only:
// WebDriver's own displayedness decides then (zero-size boxes, display: contents, ...).
inline constexpr const char *kUsableBody = "return lumox.usable(arguments[0]);";

// The element attribute holding the last usability check's "empty text field": `input`
// does not clear what is already empty (one request less, and no focus and blur events).
inline constexpr const char *kSeenEmptyAttr = "lumox_seen_empty";

// The helpers and `body` as one script, without the indentation: every find sends it.
inline std::string with_helpers(std::string_view body) {
    std::string script;
    bool line_start = true;
    for (const std::string_view part : {std::string_view(kHelpers), body}) {
        for (const char c : part) {
            if (line_start && (c == ' ' || c == '\n')) {
                continue;
            }
            script += c;
            line_start = c == '\n';
        }
        script += '\n';
        line_start = true;
    }
    return script;
}

} // namespace lumox::actlib_utils::page_scripts
