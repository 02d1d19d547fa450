#include "shell/gtk/downloads.h"

#include <glib/gstdio.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <cerrno>

#include "shell/gtk/browser_rules.h"

namespace quorvel::gtk {
namespace {

// Enough to tell the downloads of the last few clicks apart.
constexpr std::size_t kGesturesKept = 64;

std::string RequestUri(WebKitDownload* download) {
    const gchar* uri = webkit_uri_request_get_uri(webkit_download_get_request(download));
    return uri != nullptr ? uri : "";
}

std::string ViewUri(WebKitWebView* view) {
    const gchar* uri = view != nullptr ? webkit_web_view_get_uri(view) : nullptr;
    return uri != nullptr ? uri : "";
}

// What a finished download lacks of what its response promised; 0 when it is
// whole or nothing was promised. A coded body is counted after decoding, so
// its length says nothing.
guint64 MissingBytes(WebKitDownload* download) {
    WebKitURIResponse* response = webkit_download_get_response(download);
    if (response == nullptr) return 0;
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    const char* coding = headers != nullptr ? soup_message_headers_get_one(headers, "Content-Encoding") : nullptr;
    if (coding != nullptr && g_ascii_strcasecmp(coding, "identity") != 0) return 0;
    const guint64 promised = webkit_uri_response_get_content_length(response);
    const guint64 received = webkit_download_get_received_data_length(download);
    return promised > received ? promised - received : 0;
}

}  // namespace

std::string DownloadFolder() {
    const std::string home = g_get_home_dir();
    const gchar* configured = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    const TGCharPtr canonical{configured != nullptr ? g_canonicalize_filename(configured, nullptr) : nullptr};
    const TGCharPtr canonicalHome{g_canonicalize_filename(home.c_str(), nullptr)};
    const bool usable = canonical && g_strcmp0(canonical.get(), canonicalHome.get()) != 0;
    std::string folder = usable ? std::string(canonical.get()) : home + "/Downloads";
    // A folder that cannot be made leaves the dialog where GTK puts it.
    g_mkdir_with_parents(folder.c_str(), 0700);
    return folder;
}

void TUserGestures::Note(WebKitWebView* view, const std::string& uri, bool byUser) {
    FEntries.push_back(TEntry{view, uri, byUser});
    if (FEntries.size() > kGesturesKept) FEntries.pop_front();
}

bool TUserGestures::ByUser(WebKitWebView* view, const std::string& uri) const {
    for (auto entry = FEntries.rbegin(); entry != FEntries.rend(); ++entry) {
        if (entry->View == view && entry->Uri == uri) return entry->ByUser;
    }
    return false;
}

class TDownloads::TDownload {
public:
    enum class TKind { ByUser, First, Extra };

    TDownload(TDownloads& owner, WebKitDownload* download, TKind kind);
    ~TDownload();
    TDownload(const TDownload&) = delete;
    TDownload& operator=(const TDownload&) = delete;

    bool Done() const { return FDone; }
    TKind Kind() const { return FKind; }
    // The view it started in, as a key only: the view may be gone.
    WebKitWebView* PageKey() const { return FPageKey; }
    GtkWindow* Parent() const;
    void OpenChooser();
    void Cancel();

private:
    static gboolean OnDecideDestination(WebKitDownload* download, gchar* suggested, gpointer self);
    static void OnChosen(GtkDialog* dialog, gint response, gpointer self);
    static void OnFailed(WebKitDownload* download, GError* error, gpointer self);
    static void OnFinished(WebKitDownload* download, gpointer self);
    void Finish();
    void RemovePart();

    TDownloads& FOwner;
    TGObjectPtr<WebKitDownload> FDownload;
    TKind FKind;
    WebKitWebView* FPageKey;
    std::string FSuggested;
    std::string FName;  // the chosen file
    std::string FPart;  // what is written until it is whole
    bool FFailed = false;
    bool FDone = false;
    TToplevelPtr FChooser;
    TSignalGroup FSignals;  // last: dropped first
};

TDownloads::TDownload::TDownload(TDownloads& owner, WebKitDownload* download, TKind kind)
    : FOwner(owner),
      FDownload(WEBKIT_DOWNLOAD(g_object_ref(download))),
      FKind(kind),
      FPageKey(webkit_download_get_web_view(download)) {
    FSignals.Connect(download, "decide-destination", OnDecideDestination, this);
    FSignals.Connect(download, "failed", OnFailed, this);
    FSignals.Connect(download, "finished", OnFinished, this);
}

TDownloads::TDownload::~TDownload() {
    FSignals.DisconnectAll();
    FChooser.reset();
    // Ending with a download under way: what it wrote goes, the file it was
    // to replace stays.
    if (!FDone) webkit_download_cancel(FDownload.get());
    RemovePart();
}

GtkWindow* TDownloads::TDownload::Parent() const {
    WebKitWebView* view = webkit_download_get_web_view(FDownload.get());
    // A view that has shown no page (a new window for an attachment) is
    // about to go: the dialog sits on the main window instead.
    WebKitBackForwardList* history = view != nullptr ? webkit_web_view_get_back_forward_list(view) : nullptr;
    const bool shown = history != nullptr && webkit_back_forward_list_get_current_item(history) != nullptr;
    GtkWidget* toplevel = shown ? gtk_widget_get_toplevel(GTK_WIDGET(view)) : nullptr;
    if (toplevel != nullptr && gtk_widget_is_toplevel(toplevel) && gtk_widget_get_visible(toplevel)) {
        return GTK_WINDOW(toplevel);
    }
    return FOwner.FFallbackParent ? FOwner.FFallbackParent() : nullptr;
}

gboolean TDownloads::TDownload::OnDecideDestination(WebKitDownload*, gchar* suggested, gpointer self) {
    auto* download = static_cast<TDownload*>(self);
    download->FSuggested = suggested != nullptr ? suggested : "";
    download->FOwner.Ready(download);
    // WebKit waits for the destination, or for the cancel.
    return TRUE;
}

void TDownloads::TDownload::OpenChooser() {
    FChooser.reset(gtk_file_chooser_dialog_new("Save File", Parent(), GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
                                               GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr));
    GtkWidget* chooser = FChooser.get();
    gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
    gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), DownloadFolder().c_str());
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), SafeFileName(FSuggested).c_str());
    FSignals.Connect(chooser, "response", OnChosen, this);
    gtk_window_present(GTK_WINDOW(chooser));
}

void TDownloads::TDownload::OnChosen(GtkDialog* dialog, gint response, gpointer self) {
    auto* download = static_cast<TDownload*>(self);
    const TGCharPtr path{response == GTK_RESPONSE_ACCEPT ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))
                                                         : nullptr};
    download->FChooser.reset();
    TDownloads& owner = download->FOwner;
    if (!path) {
        owner.Chosen(download, false);
        download->Cancel();
        return;
    }
    download->FName = path.get();
    // Beside the chosen file, in the same folder so that the rename is one
    // step, under a short name that no file has.
    const TGCharPtr folder{g_path_get_dirname(path.get())};
    do {
        download->FPart = std::string(folder.get()) + "/.quorvel-" + std::to_string(g_random_int()) + ".part";
    } while (g_file_test(download->FPart.c_str(), G_FILE_TEST_EXISTS));
    GError* error = nullptr;
    const TGCharPtr uri{g_filename_to_uri(download->FPart.c_str(), nullptr, &error)};
    owner.Chosen(download, true);
    if (!uri) {
        download->FPart.clear();
        owner.Failed(download->Parent(), download->FName, error->message);
        g_error_free(error);
        download->Cancel();
        return;
    }
    webkit_download_set_allow_overwrite(download->FDownload.get(), FALSE);
    webkit_download_set_destination(download->FDownload.get(), uri.get());
}

void TDownloads::TDownload::Cancel() {
    if (FDone) return;
    webkit_download_cancel(FDownload.get());
    // WebKit reports the cancel through "failed", unless it had already ended.
    RemovePart();
    Finish();
}

void TDownloads::TDownload::OnFailed(WebKitDownload*, GError* error, gpointer self) {
    auto* download = static_cast<TDownload*>(self);
    download->FFailed = true;
    download->RemovePart();
    if (!g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER)) {
        download->FOwner.Failed(download->Parent(), download->FName, error->message);
    }
    download->Finish();
}

void TDownloads::TDownload::OnFinished(WebKitDownload* webDownload, gpointer self) {
    // WebKit says "finished" after "failed" too.
    auto* download = static_cast<TDownload*>(self);
    if (download->FFailed || download->FDone) return;
    if (!download->FPart.empty()) {
        const guint64 missing = MissingBytes(webDownload);
        std::string reason;
        if (missing > 0) {
            reason = "The server ended the file " + std::to_string(missing) + " bytes short of its length.";
        } else if (g_rename(download->FPart.c_str(), download->FName.c_str()) != 0) {
            reason = g_strerror(errno);
        }
        if (reason.empty()) {
            download->FPart.clear();
        } else {
            download->RemovePart();
            download->FOwner.Failed(download->Parent(), download->FName, reason);
        }
    }
    download->Finish();
}

void TDownloads::TDownload::RemovePart() {
    if (FPart.empty()) return;
    g_unlink(FPart.c_str());
    FPart.clear();
}

void TDownloads::TDownload::Finish() {
    if (FDone) return;
    FDone = true;
    FChooser.reset();
    FOwner.Ended(this);
}

TDownloads::TDownloads(WebKitWebContext* context, const TUserGestures& gestures,
                       std::function<bool(const std::string&)> allow, std::function<GtkWindow*()> fallbackParent,
                       std::function<void(WebKitWebView*)> startedIn)
    : FGestures(gestures),
      FAllow(std::move(allow)),
      FFallbackParent(std::move(fallbackParent)),
      FStartedIn(std::move(startedIn)) {
    FSignals.Connect(context, "download-started", OnStarted, this);
}

TDownloads::~TDownloads() {
    FSignals.DisconnectAll();
    // Each cancels itself, reaching back for nothing.
    FDownloads.clear();
}

void TDownloads::OnStarted(WebKitWebContext*, WebKitDownload* download, gpointer self) {
    auto* downloads = static_cast<TDownloads*>(self);
    // Finished ones go here, outside their own signals.
    auto& list = downloads->FDownloads;
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto& d) { return d->Done(); }), list.end());
    const std::string uri = RequestUri(download);
    if (!downloads->FAllow(uri)) {
        webkit_download_cancel(download);
        return;
    }
    WebKitWebView* view = webkit_download_get_web_view(download);
    auto kind = TDownload::TKind::ByUser;
    if (!downloads->FGestures.ByUser(view, uri) && downloads->FAllowedSites.count(SiteOf(ViewUri(view))) == 0) {
        TPage& page = downloads->PageOf(view);
        kind = page.FirstTaken ? TDownload::TKind::Extra : TDownload::TKind::First;
        page.FirstTaken = true;
    }
    list.push_back(std::make_unique<TDownload>(*downloads, download, kind));
    if (kind == TDownload::TKind::First) downloads->PageOf(view).First = list.back().get();
    if (view != nullptr && downloads->FStartedIn) downloads->FStartedIn(view);
}

TDownloads::TPage& TDownloads::PageOf(WebKitWebView* view) {
    TPage& page = FPages[view];
    const std::string uri = ViewUri(view);
    // Another page in the view: its downloads start over.
    if (page.Uri != uri && page.First == nullptr && page.Held.empty()) {
        page = TPage{};
        page.Uri = uri;
    }
    return page;
}

void TDownloads::Ready(TDownload* download) {
    if (download->Kind() == TDownload::TKind::Extra) {
        TPage& page = FPages[download->PageKey()];
        if (FAllowedSites.count(SiteOf(page.Uri)) == 0) {
            if (page.State == TPage::TState::Refused) {
                download->Cancel();
                return;
            }
            page.Held.push_back(download);
            Pump();
            return;
        }
    }
    FWaiting.push_back(download);
    Pump();
}

void TDownloads::Chosen(TDownload* download, bool saved) {
    if (FChoosing == download) FChoosing = nullptr;
    TPage& page = FPages[download->PageKey()];
    if (page.First == download) page.First = nullptr;
    if (!saved && download->Kind() != TDownload::TKind::ByUser) {
        // The user said no to a page's burst: the rest of it goes too.
        page.State = TPage::TState::Refused;
        std::vector<TDownload*> rest;
        rest.swap(page.Held);
        for (TDownload* waiting : FWaiting) {
            if (waiting != download && waiting->PageKey() == download->PageKey() &&
                waiting->Kind() != TDownload::TKind::ByUser) {
                rest.push_back(waiting);
            }
        }
        for (TDownload* other : rest) other->Cancel();
    }
    Pump();
}

void TDownloads::Answered(WebKitWebView* pageKey, bool yes) {
    TPage& page = FPages[pageKey];
    std::vector<TDownload*> held;
    held.swap(page.Held);
    if (yes) {
        FAllowedSites.insert(SiteOf(page.Uri));
        page.State = TPage::TState::Unasked;
        FWaiting.insert(FWaiting.end(), held.begin(), held.end());
    } else {
        page.State = TPage::TState::Refused;
        for (TDownload* download : held) download->Cancel();
    }
    Pump();
}

void TDownloads::Ended(TDownload* download) {
    if (FChoosing == download) FChoosing = nullptr;
    FWaiting.erase(std::remove(FWaiting.begin(), FWaiting.end(), download), FWaiting.end());
    for (auto& [view, page] : FPages) {
        if (page.First == download) page.First = nullptr;
        page.Held.erase(std::remove(page.Held.begin(), page.Held.end(), download), page.Held.end());
    }
    Pump();
}

void TDownloads::Pump() {
    if (FChoosing != nullptr || FQuestion.IsOpen()) return;
    // A page's question comes once the first download of its burst has had
    // its dialog.
    for (auto& [view, page] : FPages) {
        if (page.Held.empty() || page.State != TPage::TState::Unasked || page.First != nullptr) continue;
        page.State = TPage::TState::Asking;
        WebKitWebView* asking = view;
        FQuestion.Ask(page.Held.front()->Parent(), "Download several files",
                      "Allow this site to download several files?",
                      "The page started downloads of its own: " + ElideMiddle(SiteOf(page.Uri), 80), "_Allow",
                      [this, asking](bool yes, GtkWindow*) { Answered(asking, yes); });
        return;
    }
    if (FWaiting.empty()) return;
    FChoosing = FWaiting.front();
    FWaiting.pop_front();
    FChoosing->OpenChooser();
}

void TDownloads::Failed(GtkWindow* parent, const std::string& name, const std::string& reason) {
    const TGCharPtr base{g_path_get_basename(name.empty() ? "the file" : name.c_str())};
    FNotice.Show(parent, "Download failed", std::string("The download of \"") + base.get() + "\" failed.", reason);
}

}  // namespace quorvel::gtk
