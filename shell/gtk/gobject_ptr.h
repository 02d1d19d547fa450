// One owner for each GObject reference, each string GLib hands over and each
// toplevel widget.
#pragma once

#include <gtk/gtk.h>

#include <memory>

namespace quorvel::gtk {

struct TGObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// Holds one reference; the deleter drops it.
template <typename T>
using TGObjectPtr = std::unique_ptr<T, TGObjectUnref>;

// Text and string lists that GLib hands over, freed with g_free and g_strfreev.
struct TGFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct TGStrvFree {
    void operator()(gchar** list) const { g_strfreev(list); }
};
using TGCharPtr = std::unique_ptr<gchar, TGFree>;
using TGStrvPtr = std::unique_ptr<gchar*, TGStrvFree>;

// A toplevel widget that GTK itself keeps alive until it is destroyed.
struct TWidgetDestroy {
    void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};
using TToplevelPtr = std::unique_ptr<GtkWidget, TWidgetDestroy>;

// A signal connection, disconnected before the object it watches goes.
class TSignalConnection {
public:
    TSignalConnection() = default;
    TSignalConnection(gpointer instance, gulong id) : FInstance(instance), FId(id) {}
    ~TSignalConnection() { Disconnect(); }
    TSignalConnection(TSignalConnection&& other) noexcept : FInstance(other.FInstance), FId(other.FId) {
        other.FId = 0;
    }
    TSignalConnection& operator=(TSignalConnection&& other) noexcept {
        if (this != &other) {
            Disconnect();
            FInstance = other.FInstance;
            FId = other.FId;
            other.FId = 0;
        }
        return *this;
    }
    TSignalConnection(const TSignalConnection&) = delete;
    TSignalConnection& operator=(const TSignalConnection&) = delete;

    void Disconnect() {
        if (FId != 0) g_signal_handler_disconnect(FInstance, FId);
        FId = 0;
    }

private:
    gpointer FInstance = nullptr;
    gulong FId = 0;
};

}  // namespace quorvel::gtk
