// The shell's second windows: pop-ups of the page and links opened in a new
// window. Each is an ordinary decorated toplevel whose view is related to the
// one that opened it (same session, window.opener), inside an overlay for
// what the platform attaches to every window.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

// What the platform attaches to one window and its view; gone before them.
class IWindowAttachment {
public:
    virtual ~IWindowAttachment() = default;
};
using TAttachWindow =
    std::function<std::unique_ptr<IWindowAttachment>(GtkWindow* window, WebKitWebView* view, GtkOverlay* overlay)>;

class TSecondWindows {
public:
    // Windows whose page asks for no size get the default size.
    TSecondWindows(int defaultWidth, int defaultHeight, TAttachWindow attach);
    ~TSecondWindows();
    TSecondWindows(const TSecondWindows&) = delete;
    TSecondWindows& operator=(const TSecondWindows&) = delete;

    // For WebKit's "create": a view related to related, in a window shown
    // when WebKit says the page is ready; null when too many are open.
    WebKitWebView* Create(WebKitWebView* related);
    // A window shown now, loading uri (none when too many are open).
    void Open(WebKitWebView* related, const std::string& uri);
    // The window of view, when it never showed a page: a link to an
    // attachment opened it, and the download has left it empty.
    void CloseIfEmpty(WebKitWebView* view);
    void CloseAll();

private:
    class TSecondWindow;
    void Close(TSecondWindow* window);

    int FDefaultWidth;
    int FDefaultHeight;
    TAttachWindow FAttach;
    std::vector<std::unique_ptr<TSecondWindow>> FWindows;
};

}  // namespace quorvel::gtk
