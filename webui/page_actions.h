#pragma once
// Find in page, PDF export, cookies, print and reload: what their handlers
// compute, apart from the desktop.

#include <memory>
#include <optional>
#include <string>

#include "core/records.h"
#include "platform/cookies.h"

// The script that counts the matches of text in the page and names the one
// selected; it returns the answer's JSON text.
std::string find_count_script(const std::string& text, bool case_sensitive);
// The FIND answer for a match, from what the counting script returned: that
// object, compact and on one line, when it is one; else {"found":true}.
std::string find_match_answer(const std::optional<std::string>& result);

// The folder and name of a temporary file beside path, or "" when path names
// no file ("" or ending in "/").
std::string pdf_temp_template(const std::string& path);

// One cookie as the backend reads it.
std::string cookie_json(const platform::Cookie& c);
// A cookie expiry field in milliseconds: "" = none; nullopt = not a number.
std::optional<std::optional<double>> parse_cookie_expiry(const std::string& field);
// Whether the store may be given these texts: no empty name or domain, nothing
// that would break or add to a cookie header.
bool cookie_fields_acceptable(const platform::Cookie& c);

// FIND, STOPFIND (the call id), PDF, COOKIES, and PRINT (PRINT@: the window id;
// plain PRINT hands none and means the main window).
void do_find(void* w, std::unique_ptr<FindReq> r);
void do_stopfind(void* w, std::unique_ptr<std::string> id);
void do_pdf(void* w, std::unique_ptr<PdfReq> r);
void do_cookies(void* w, std::unique_ptr<CookieReq> r);
void do_print(void* w, std::unique_ptr<std::string> win);
