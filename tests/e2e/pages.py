"""The start pages the end-to-end tests serve, one per distribution tag."""

PAGE_COLOUR = (58, 123, 213)

# Every page tells the server when it has painted and when it gains or loses
# the focus, so that tests wait for what happened instead of sleeping.
COMMON = """
<style>html, body { margin: 0; height: 100%; background: rgb(58, 123, 213); overflow: hidden; }
a.all { position: fixed; inset: 0; display: block; }</style>
<script>
function beacon(name) {
  var x = new XMLHttpRequest();
  x.open('GET', '/beacon?' + name, false);
  try { x.send(); } catch (e) {}
}
var focused = null, painted = false, pending = null;
setInterval(function () {
  var now = document.hasFocus();
  if (now !== focused) { focused = now; beacon(now ? 'focus' : 'blur'); go(); }
}, 100);
window.addEventListener('load', function () {
  requestAnimationFrame(function () { requestAnimationFrame(function () {
    painted = true; beacon('painted'); go();
  }); });
});
// A page's action waits until it has painted and the window has the focus,
// so that the test sees both before the action may end the program.
function soon(action) { pending = action; go(); }
function go() {
  if (!pending || !painted || !focused) return;
  var action = pending;
  pending = null;
  setTimeout(function () { beacon('go'); action(); }, 300);
}
</script>
"""


def page(body=""):
    return "<!doctype html><html><head><meta charset='utf-8'>" + COMMON + "</head><body>" + body + "</body></html>"


PLAIN = page()

CLOSE_PAGES = {
    # The test clicks the link that covers the page.
    "link": page("<a class='all' href='/bye/link?c100100'></a>"),
    # A link that opens a new window: a new-window decision, not a navigation.
    "blank": page("<a class='all' target='_blank' href='/bye/blank?c100100'></a>"),
    "script": page("<script>soon(function () { location.href = '/bye/script?x=c100100'; });</script>"),
    "frame": page("<iframe src='/frame' width='300' height='200'></iframe>"),
    "form": page("<form id='f' action='/bye/form'><input name='k' value='c100100'></form>"
                 "<script>soon(function () { document.getElementById('f').submit(); });</script>"),
    "redirect": page("<script>soon(function () { location.href = '/redirect'; });</script>"),
    # Near misses go on: the second page goes further and says so.
    "near": page("<script>soon(function () { location.href = '/next?C100100'; });</script>"),
}

FRAME = ("<!doctype html><html><body><script>"
         "parent.soon(function () { location.href = '/bye/frame?c100100'; });"
         "</script></body></html>")

NEXT_UPPER = page("<script>soon(function () { location.href = '/next2?c10010'; });</script>")
NEXT_SHORT = page("<script>beacon('near-done');</script>")

# The browser's keys: the page reports its width (zoom), its pageshow (back
# and forward), the keys it sees and what is selected in it (find).
KEYS_REPORTS = """
<script>
var width = 0, selected = '';
setInterval(function () {
  if (innerWidth !== width) { width = innerWidth; beacon('width-' + width); }
  var now = String(getSelection()) + '-' + getSelection().anchorOffset;
  if (now !== selected) { selected = now; beacon('selected-' + now); }
}, 100);
addEventListener('keydown', function (e) {
  if (!e.ctrlKey && !e.altKey && e.key.length === 1) beacon('key-' + e.key);
});
</script>
"""
# A long page: WebKit scrolls it on a wheel turn, Ctrl held or not.
KEYS_START = page("<style>html, body { overflow: auto; height: auto; }</style><div style='height: 3000px'>"
                  "<p style='font: 24px sans-serif; color: white; margin: 120px 40px'>"
                  "A needle in the haystack, and a needle, and one more needle.</p></div>"
                  "<a href='/second' style='position: fixed; left: 0; bottom: 0; width: 300px; height: 200px'></a>"
                  + KEYS_REPORTS +
                  "<script>addEventListener('pageshow', function () { beacon('pageshow-start'); });</script>")
# This page keeps Ctrl+F for itself.
KEYS_SECOND = page("<p style='font: 24px sans-serif; color: white; margin: 120px 40px'>A second needle.</p>"
                   + KEYS_REPORTS +
                   "<script>addEventListener('pageshow', function () { beacon('pageshow-second'); });"
                   "addEventListener('keydown', function (e) {"
                   "  if (e.ctrlKey && e.key === 'f') { e.preventDefault(); beacon('page-ctrl-f'); }"
                   "});</script>")
