// Downloads: every one asks where to save it, in a save dialog on the window
// that started it, with the suggested name in the user's download folder, one
// dialog at a time. What is saved is written beside the chosen name and takes
// its place in one rename once it is whole, so a replaced file is lost only
// to a finished download. A cancelled or failed download leaves nothing; a
// failure is told in a dialog.
//
// A page cannot pile up save dialogs: of the downloads no click or key
// started, only the first on a page goes ahead; the rest wait for one
// question, asked once per page, whether the site may download several files.
// Cancelling a save dialog of such a burst cancels the rest of it.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/notice.h"

namespace quorvel::gtk {

// The XDG download folder; ~/Downloads, created when missing, when none is
// configured (GLib then names the home folder itself).
std::string DownloadFolder();

// Which addresses a click or a key asked for, per view, as the views' policies
// see the navigations: a download's own tells neither.
class TUserGestures {
public:
    void Note(WebKitWebView* view, const std::string& uri, bool byUser);
    bool ByUser(WebKitWebView* view, const std::string& uri) const;

private:
    struct TEntry {
        WebKitWebView* View;
        std::string Uri;
        bool ByUser;
    };
    std::deque<TEntry> FEntries;  // the latest few
};

class TDownloads {
public:
    // allow: the navigation guard, true when the address may be fetched.
    // fallbackParent: the window for downloads whose view is gone.
    // startedIn: told the view of each download once the download is its own.
    TDownloads(WebKitWebContext* context, const TUserGestures& gestures, std::function<bool(const std::string&)> allow,
               std::function<GtkWindow*()> fallbackParent, std::function<void(WebKitWebView*)> startedIn);
    ~TDownloads();
    TDownloads(const TDownloads&) = delete;
    TDownloads& operator=(const TDownloads&) = delete;

private:
    class TDownload;
    // What the downloads no gesture started have met on one page of a view.
    struct TPage {
        std::string Uri;
        TDownload* First = nullptr;  // the one let through, until its dialog is answered
        bool FirstTaken = false;
        enum class TState { Unasked, Asking, Refused } State = TState::Unasked;
        std::vector<TDownload*> Held;  // waiting for the question
    };

    static void OnStarted(WebKitWebContext* context, WebKitDownload* download, gpointer self);
    // The page now in view, a live view; others are found by their key.
    TPage& PageOf(WebKitWebView* view);
    // A download has asked where to go: it joins the queue of dialogs, waits
    // for the page's question, or is refused.
    void Ready(TDownload* download);
    void Chosen(TDownload* download, bool saved);
    void Answered(WebKitWebView* pageKey, bool yes);
    void Ended(TDownload* download);
    // Opens the next dialog when none is open.
    void Pump();
    void Failed(GtkWindow* parent, const std::string& name, const std::string& reason);

    const TUserGestures& FGestures;
    std::function<bool(const std::string&)> FAllow;
    std::function<GtkWindow*()> FFallbackParent;
    std::function<void(WebKitWebView*)> FStartedIn;
    std::vector<std::unique_ptr<TDownload>> FDownloads;
    std::deque<TDownload*> FWaiting;     // for their save dialog
    TDownload* FChoosing = nullptr;      // the one whose dialog is open
    std::map<WebKitWebView*, TPage> FPages;
    std::set<std::string> FAllowedSites;  // may download several files, for this run
    TNotice FNotice;
    TQuestion FQuestion;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
