#include "bench/shell/webkit_variant.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quorvel::bench {

namespace {

[[noreturn]] void Unknown(const std::string& item) {
    std::fprintf(stderr, "quorvel-bench: unknown QUORVEL_BENCH_WEBKIT item '%s'\n", item.c_str());
    std::exit(2);
}

void Apply(const std::string& item, WebKitWebContext* context, WebKitSettings* settings) {
    if (item == "cache=document-viewer") {
        webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    } else if (item == "cache=document-browser") {
        webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
    } else if (item == "cache=web-browser") {
        webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_WEB_BROWSER);
    } else if (item == "hw=never") {
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    } else if (item == "hw=on-demand") {
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_ON_DEMAND);
    } else if (item == "hw=always") {
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_ALWAYS);
    } else if (item == "dns=off") {
        // Deprecated as a call; the property is still there where WebKit has it.
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(settings), "enable-dns-prefetching") == nullptr) {
            std::fprintf(stderr, "quorvel-bench: this WebKit has no DNS prefetching setting\n");
            return;
        }
        g_object_set(settings, "enable-dns-prefetching", FALSE, nullptr);
    } else if (item == "pagecache=off") {
        webkit_settings_set_enable_page_cache(settings, FALSE);
    } else {
        Unknown(item);
    }
}

}  // namespace

void ApplyWebKitVariant(WebKitWebContext* context, WebKitWebView* view) {
    const char* list = std::getenv("QUORVEL_BENCH_WEBKIT");
    if (list == nullptr || *list == '\0') return;
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    const std::string all = list;
    for (std::size_t at = 0; at <= all.size();) {
        std::size_t end = all.find(',', at);
        if (end == std::string::npos) end = all.size();
        const std::string item = all.substr(at, end - at);
        if (!item.empty()) Apply(item, context, settings);
        at = end + 1;
    }
}

}  // namespace quorvel::bench
