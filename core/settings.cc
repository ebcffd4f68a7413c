#include "core/settings.h"

std::string g_app_name = "quibex";
std::string g_app_version = "0.0.0";
std::string g_app_id, g_app_icon;
std::string g_html_path;
std::set<std::string> g_own_argv_paths;
std::string g_attribution, g_credits_file, g_help_book;
bool g_windowless = false, g_bundle_mode = false, g_defer_show = false, g_debug = false, g_debug_open = false,
     g_suppress_order_front = false, g_accessory = false;
std::string g_read_access, g_user_agent, g_inject_js, g_downloads_mode, g_popup_mode;
std::string g_media_origins_key;
bool g_hide_on_close = false;
bool g_rescue_on = true;

std::string g_bundle_identifier, g_bundle_path;
