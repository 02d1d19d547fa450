// One owner for each GObject reference and each string, list or address GLib
// hands over; GLib alone, for the code that needs no toolkit.
#pragma once

#include <glib-object.h>

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

struct TGUriUnref {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using TGUriPtr = std::unique_ptr<GUri, TGUriUnref>;

}  // namespace quorvel::gtk
