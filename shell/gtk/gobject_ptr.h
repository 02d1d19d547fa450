// One owner for each toplevel widget, beside those of GLib's own objects, and
// one group for the signal handlers an object connects.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <vector>

#include "shell/gtk/glib_ptr.h"

namespace quorvel::gtk {

// A toplevel widget that GTK itself keeps alive until it is destroyed.
struct TWidgetDestroy {
    void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};
using TToplevelPtr = std::unique_ptr<GtkWidget, TWidgetDestroy>;

// The signal handlers one object connects, in its constructor, and drops all
// at once, first thing in its teardown, so that no callback reaches a
// half-destroyed object. An instance that goes first (a dialog the object
// destroyed) takes its handlers with it and is passed over.
class TSignalGroup {
public:
    TSignalGroup() = default;
    ~TSignalGroup() { DisconnectAll(); }
    TSignalGroup(const TSignalGroup&) = delete;
    TSignalGroup& operator=(const TSignalGroup&) = delete;

    template <typename TCallback>
    void Connect(gpointer instance, const char* signal, TCallback* callback, gpointer data,
                 GConnectFlags flags = static_cast<GConnectFlags>(0)) {
        Add(instance, g_signal_connect_data(instance, signal, reinterpret_cast<GCallback>(callback), data, nullptr,
                                            flags));
    }
    void DisconnectAll() {
        for (const auto& entry : FEntries) Drop(*entry);
        FEntries.clear();
    }

private:
    struct TEntry {
        gpointer Instance;  // a weak pointer: null once the instance is finalised
        gulong Id;
    };
    void Add(gpointer instance, gulong id) {
        // Entries of instances already gone make room first.
        std::erase_if(FEntries, [](const auto& entry) { return entry->Instance == nullptr; });
        FEntries.push_back(std::make_unique<TEntry>(TEntry{instance, id}));
        g_object_add_weak_pointer(G_OBJECT(instance), &FEntries.back()->Instance);
    }
    static void Drop(TEntry& entry) {
        if (entry.Instance == nullptr) return;
        g_object_remove_weak_pointer(G_OBJECT(entry.Instance), &entry.Instance);
        g_signal_handler_disconnect(entry.Instance, entry.Id);
        entry.Instance = nullptr;
    }

    std::vector<std::unique_ptr<TEntry>> FEntries;
};

}  // namespace quorvel::gtk
