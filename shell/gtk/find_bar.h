// The find bar of one browser window: a search entry with the match count,
// previous and next, laid over the top of the page while it is open. WebKit's
// find controller highlights and scrolls to what it finds.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

class TFindBar {
public:
    // The bar becomes an overlay child of overlay, hidden; view is the page
    // it searches.
    TFindBar(WebKitWebView* view, GtkOverlay* overlay);
    ~TFindBar();
    TFindBar(const TFindBar&) = delete;
    TFindBar& operator=(const TFindBar&) = delete;

    // Shows the bar, or takes it back to the entry when it is open.
    void Open();
    // Hides the bar, clears the highlights and gives the focus back to the page.
    void Close();
    bool IsOpen() const;

private:
    void Search();
    void Next(bool backwards);
    void ShowCount(guint matches);

    static void OnSearchChanged(GtkSearchEntry* entry, gpointer self);
    static void OnStopSearch(GtkSearchEntry* entry, gpointer self);
    static void OnNextMatch(GtkSearchEntry* entry, gpointer self);
    static void OnPreviousMatch(GtkSearchEntry* entry, gpointer self);
    static gboolean OnEntryKey(GtkWidget* entry, GdkEventKey* event, gpointer self);
    static void OnNextClicked(GtkButton* button, gpointer self);
    static void OnPreviousClicked(GtkButton* button, gpointer self);
    static void OnCloseClicked(GtkButton* button, gpointer self);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static void OnFoundText(WebKitFindController* finder, guint matches, gpointer self);
    static void OnFailedToFind(WebKitFindController* finder, gpointer self);

    WebKitWebView* FView;
    WebKitFindController* FFinder;  // owned by the view
    GtkWidget* FBar;                // owned by the overlay
    GtkWidget* FEntry = nullptr;    // owned by the bar
    GtkWidget* FCount = nullptr;
    GtkWidget* FPrevious = nullptr;
    GtkWidget* FNext = nullptr;
    GtkWidget* FClose = nullptr;
    bool FCounting = false;  // the next find reports the count of a new search
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
