// WebKit settings that may save memory or start-up time, applied to the
// benchmark's copy of the shell from QUORVEL_BENCH_WEBKIT, a comma-separated
// list of: cache=document-viewer|document-browser|web-browser,
// hw=never|on-demand|always, dns=off, pagecache=off. Never in the shipped
// shell, which reads nothing from the environment.
#pragma once

#include <webkit2/webkit2.h>

namespace quorvel::bench {

void ApplyWebKitVariant(WebKitWebContext* context, WebKitWebView* view);

}  // namespace quorvel::bench
