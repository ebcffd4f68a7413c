#pragma once
// Pages: which page texts are web addresses, and how a page file is loaded with
// the directory it may read.

#include <string>

#include "platform/webview.h"

// A leading "~" is the home directory.
std::string expand_tilde(const std::string& path);

// "http://" and "https://" pages are navigated to; every other page names a file.
bool is_web_url(const std::string& page);

// The whole, normalised path of a page file; "" when none can be made (a relative
// path while the working directory is gone). Never throws.
std::string page_file_path(const std::string& path);

// The directory a page file may read: its own directory, or its parent when that
// holds a "shared" directory, widened to hold the read-access setting as well.
std::string quib_read_access_url(const std::string& file_path, const std::string& read_access);

// Loads a page file (a whole path) with its read-access directory.
void load_page_file(platform::WebView* view, const std::string& abs_path);

// Loads a page file into the main window (start-up, and RELOAD of a page that has
// no URL); false when the file cannot be read or found. Main thread.
bool load_html_file(void* w, const std::string& path);
