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
# and forward), the keys it sees and what is selected in it (find). The start
# page prints itself on Q.
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
                  "<a href='/popup' target='_blank'"
                  " style='position: fixed; right: 0; bottom: 0; width: 300px; height: 200px'></a>"
                  + KEYS_REPORTS +
                  "<script>addEventListener('pageshow', function () { beacon('pageshow-start'); });"
                  "addEventListener('keydown', function (e) { if (e.key === 'q') print(); });"
                  "beacon('webgl-' + !!document.createElement('canvas').getContext('webgl'));</script>")
# A page that calls print() again and again, with no click.
PRINT_LOOP = page("<script>setInterval(function () { print(); }, 300);</script>")
# This page keeps Ctrl+F for itself.
KEYS_SECOND = page("<p style='font: 24px sans-serif; color: white; margin: 120px 40px'>A second needle.</p>"
                   + KEYS_REPORTS +
                   "<script>addEventListener('pageshow', function () { beacon('pageshow-second'); });"
                   "addEventListener('keydown', function (e) {"
                   "  if (e.ctrlKey && e.key === 'f') { e.preventDefault(); beacon('page-ctrl-f'); }"
                   "});</script>")

# --- the browser's own interface: tiles the test clicks -----------------------

TILE_W, TILE_H = 200, 80


def tile_centre(index):
    """Where tile index sits in the window, as the page lays it out."""
    return 20 + (index % 4) * 230 + TILE_W // 2, 20 + (index // 4) * 110 + TILE_H // 2


def tiles(*elements, head="", extra=""):
    """Each element (a tag's opening with its attributes, and its closing tag)
    as a tile at its place, after head and before extra; the page signs in
    first, so the session has a cookie."""
    body = [head, "<script>var s = new XMLHttpRequest(); s.open('GET', '/signin', false); s.send();"
            "beacon('signed-in');</script>"]
    for index, (opening, closing) in enumerate(elements):
        x, y = tile_centre(index)
        style = ("position: fixed; left: %dpx; top: %dpx; width: %dpx; height: %dpx; background: #fff; "
                 "display: block; border: 0" % (x - TILE_W // 2, y - TILE_H // 2, TILE_W, TILE_H))
        body.append("%s style='%s'>tile %d%s" % (opening, style, index, closing))
    return page("".join(body) + extra)


def titled(title, body):
    return ("<!doctype html><html><head><meta charset='utf-8'><title>%s</title>%s</head><body>%s</body></html>" %
            (title, COMMON, body))


SECOND = titled("Second page", "<script>beacon('second');</script>")

# Closes itself at the click the test makes into it.
COMPOSE = titled("Compose",
                 "<script>beacon(window.opener && window.opener.location.pathname === '/quorvl/index1.html'"
                 " ? 'opener-yes' : 'opener-no');</script>"
                 "<a class='all' href='#' onclick='window.close(); return false;'></a>")

# Each of them ends the program: the address holds the close marker.
MARKER_PAGES = {
    "popup": page("<script>soon(function () { window.open('/bye/popup?c100100', 'bye'); });</script>"),
    "mailto": page("<script>soon(function () { location.href = 'mailto:bye@quorvel.example?c100100'; });</script>"),
    "download": page("<a class='all' download href='/files/bye.bin?c100100'></a>"),
    # Through the context menu: Open Link in New Window, Download Linked File.
    "menu-window": page("<a class='all' href='/bye/menu-window?c100100'></a>"),
    "menu-download": page("<a class='all' href='/files/bye.bin?c100100'></a>"),
    # A program's own scheme: the guard comes before the question.
    "scheme": page("<a class='all' href='x-quorvel-test:bye?c100100'></a>"),
}

# Scripts that send addresses to other programs with no click: the page's own,
# and a frame's of another origin.
HANDOFF_AUTO = page("<script>setTimeout(function () { location.href = 'x-quorvel-test:auto'; }, 300);"
                    "setTimeout(function () { location.href = 'mailto:auto@quorvel.example'; }, 600);"
                    "setTimeout(function () { beacon('auto-done'); }, 900);</script>")
# Served from another origin, inside the mail page: a link that covers it, and
# its own script's try with no click.
HANDOFF_FRAME = ("<!doctype html><html><body style='margin: 0'>"
                 "<a href='x-quorvel-test:frame?id=8' style='position: fixed; inset: 0; display: block'></a>"
                 "<script>setTimeout(function () { location.href = 'x-quorvel-test:frame-auto'; }, 300);"
                 "</script></body></html>")
# A second window of the shell reports its own width.
KEYS_POPUP = page("<script>var w = 0; setInterval(function () {"
                  "  if (innerWidth !== w) { w = innerWidth; beacon('popup-width-' + w); }"
                  "}, 100);</script>")

# --- recovery: crashes, failed loads, hung pages ------------------------------


def runs(name):
    """Says name-script each time the page's script runs, and name-painted
    once the page has painted."""
    return ("<script>beacon('%s-script'); addEventListener('load', function () {"
            " requestAnimationFrame(function () { requestAnimationFrame(function () { beacon('%s-painted'); }); });"
            " });</script>" % (name, name))


# Its bottom left corner opens a small second window, which leaves the top of
# the main window's page in sight.
RECOVERY_MAIN = page(runs("main") + "<a href='#' onclick=\"window.open('/second', 'second', 'width=400,height=300');"
                     " return false;\" style='position: fixed; left: 0; bottom: 0; width: 300px; height: 200px'></a>")
RECOVERY_SECOND = titled("Second page", runs("second"))

# Asks the server how to behave: "loop" runs a script forever once painted,
# "slow" is busy for 2 s after each click.
HANG = page("<script>var x = new XMLHttpRequest(); x.open('GET', '/mode', false); x.send();"
            "var mode = x.responseText;"
            "addEventListener('load', function () { requestAnimationFrame(function () {"
            " requestAnimationFrame(function () {"
            "  beacon('ready-' + mode);"
            "  if (mode === 'loop') setTimeout(function () { beacon('looping'); for (;;) {} }, 300);"
            " }); }); });"
            "addEventListener('click', function () {"
            " if (mode !== 'slow') return;"
            " var end = Date.now() + 2000; while (Date.now() < end) {}"
            " beacon('slow-done');"
            "});</script>")
# --- living on the desktop: notifications, spelling, dark style, a reader ----

SPOKEN = "Grace wrote about the quarterly figures"
# Where the two textareas sit in the window: correctly spelt words go into
# the first, misspelt ones into the second.
GOOD_AREA = (20, 140, 440, 160)
BAD_AREA = (500, 140, 440, 160)


def _area(name, box):
    return ("<textarea id='%s' spellcheck='true' style='position: fixed; left: %dpx; top: %dpx; width: %dpx; "
            "height: %dpx; font: 28px sans-serif; color: #000; background: #fff; border: 0; padding: 8px; "
            "resize: none; outline: none; caret-color: transparent'></textarea>" % ((name,) + box))


# The page's first script tells the notification permission and the colour
# scheme it starts with; the first tile asks to notify and sends one, the
# second is a frame of another origin that does the same.
DESKTOP_HEAD = ("<script>beacon('permission-' + Notification.permission);"
                "var dark = matchMedia('(prefers-color-scheme: dark)');"
                "beacon(dark.matches ? 'scheme-dark' : 'scheme-light');"
                "dark.addEventListener('change', function (e) { beacon(e.matches ? 'changed-dark' : 'changed-light'); });"
                "var notes = [];"
                "function notify(key, title, body) {"
                "  var n = new Notification(title, {body: body});"
                "  n.onshow = function () { beacon('shown-' + key); };"
                "  n.onerror = function () { beacon('error-' + key); };"
                "  n.onclick = function () { beacon('clicked-' + key); };"
                "  notes.push(n);"
                "}</script>")


def desktop_page(frame_url):
    return tiles(("<button onclick=\"Notification.requestPermission().then(function (p) {"
                  " beacon('asked-' + p); notify('mail', 'New mail', 'From Grace'); })\"", "</button>"),
                 ("<iframe src='%s'" % frame_url, "</iframe>"),
                 head=DESKTOP_HEAD,
                 extra=_area("good", GOOD_AREA) + _area("bad", BAD_AREA) +
                 "<p style='position: fixed; left: 20px; top: 340px; font: 24px sans-serif; color: #fff'>%s</p>" %
                 SPOKEN)


# The next run: a notification with no click.
DESKTOP_AGAIN = page(DESKTOP_HEAD + "<script>if (Notification.permission === 'granted') "
                     "notify('again', 'Still there', 'No click needed');</script>")

DESKTOP_FRAME = ("<!doctype html><html><body style='margin: 0'>"
                 "<a href='#' style='position: fixed; inset: 0; display: block' onclick=\"ask(); return false;\"></a>"
                 "<script>function beacon(name) { var x = new XMLHttpRequest();"
                 " x.open('GET', '/beacon?' + name, false); try { x.send(); } catch (e) {} }"
                 "beacon('frame-permission-' + Notification.permission);"
                 "function ask() { Notification.requestPermission().then(function (p) {"
                 "  beacon('frame-asked-' + p);"
                 "  var n = new Notification('From the frame', {body: 'Another origin'});"
                 "  n.onshow = function () { beacon('frame-shown'); };"
                 "  n.onerror = function () { beacon('frame-error'); };"
                 "}); }</script></body></html>")
