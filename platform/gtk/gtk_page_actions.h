#pragma once
// Find, private-world scripts, PDF export, the print dialog and reload for a
// WebKitWebView.

#include <webkit2/webkit2.h>

#include <functional>
#include <optional>
#include <string>

namespace platform::gtk {


void evaluate_private(WebKitWebView* view, const std::string& script,
                      std::function<void(std::optional<std::string>)> done);
void find_in_page(WebKitWebView* view, const std::string& text, bool backwards, bool case_sensitive,
                  std::function<void(bool)> done);
void print_view_to_pdf(WebKitWebView* view, const std::string& path, std::function<void(const std::string&)> done);
void show_view_print_dialog(WebKitWebView* view);
std::string view_url(WebKitWebView* view);

}  // namespace platform::gtk
