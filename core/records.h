#pragma once
// Request records: one heap record per command line, filled by the reader and
// owned by the command's handler on the main thread through a unique_ptr (see
// core/command_table.h).

#include <string>
#include <vector>

struct ReplyReq {
  std::string id;
  int status = 0;
  std::string payload;
};

// EVAL, and TITLE@ (whose text is the title).
struct EvalReq {
  std::string win;
  std::string text;
};

struct SizeReq {
  int width = 0;
  int height = 0;
  std::string window;
};

struct WinOpenReq {
  std::string id;
  std::string url;
  std::string title;
  int width = 600;
  int height = 400;
  std::string titlebar, buttons, transparent, material, square, firstMouse, traffic;
  bool hasPos = false;
  int x = 0;
  int y = 0;
  std::string parent;
  bool panel = false;
};

struct DlgReq {
  std::string id;
  std::string kind;
  std::vector<std::string> args;
};

struct NavrReq {
  std::string id;
  std::string answer;
};

struct PopuprReq {
  std::string id;
  std::string answer;
};

struct FindReq {
  std::string id;
  std::string text;
  bool forward = true;
  bool caseSensitive = false;
};

struct WinopReq {
  std::string window;
  std::string op;
};

struct ChromeReq {
  std::string window = "main";
  std::string titlebar, buttons, transparent, material, square, firstMouse, traffic;
};

struct HotkeyReq {
  std::string name;
  std::string combo;
  std::string reqId;
};

struct MenuUpdReq {
  std::string scope;
  std::string id;
  std::string label;
  std::string checked;
  std::string enabled;
};

struct ResizeReq {
  std::string window;
  std::string edge;
};

struct DragOutReq {
  std::string window;
  std::string icon;
  std::vector<std::string> paths;
};

struct KeystrokeReq {
  std::string id;
  std::string spec;
};

struct PdfReq {
  std::string id;
  std::string path;
  std::string winid;
};

struct CookieReq {
  std::string id;
  std::string rest;
};

// Service, media and AI commands.

struct AudioTapReq {
  std::string id;
  std::string scope;
  bool exclude_self = false;
  int interval = 0;
};

struct GetReq {
  std::string id;
  std::string key;
};

struct NotifReq {
  std::string id;
  std::string title;
  std::string body;
  std::string subtitle;
  std::string actions;
  bool sound = false;
};

struct ClipWriteReq {
  std::string text;
  std::string html;
  std::string image;
  std::string color;
  std::vector<std::string> files;
};

struct PermReq {
  std::string id;
  std::string kind;
  bool request = false;
};

struct ShellReq {
  std::string id;
  std::string op;
  std::string arg;
};

struct LoginReq {
  std::string id;
  int action = -1;
};

struct PowerReq {
  std::string id;
  std::string reason;
  bool on = false;
  bool display = false;
};

struct SoundReq {
  std::string id;
  std::string name;
};

struct ShareReq {
  std::string window;
  std::string text;
  std::string url;
  std::vector<std::string> files;
  int x = 0;
  int y = 0;
};

struct NowPlayingReq {
  std::string info;
};

struct SayReq {
  std::string id;
  std::string text;
  std::string voice;
  double rate = 0.0;
};

struct VoicesReq {
  std::string id;
};

struct RecordReq {
  std::string id;
  std::string path;
  long display = 0;
  bool start = false;
};

struct WinCtrlReq {
  std::string id;
  long pid = 0;
  int x = 0, y = 0, w = 0, h = 0;
};

struct OcrReq {
  std::string id;
  std::string path;
};

struct ThumbReq {
  std::string id;
  std::string path;
  int size = 0;
};

struct SecretReq {
  std::string id;
  std::string op;
  std::string service;
  std::string account;
  std::string value;
};

struct AuthReq {
  std::string id;
  std::string reason;
};

struct OsaReq {
  std::string id;
  std::string source;
};

struct QLReq {
  std::vector<std::string> paths;
};

struct CaptureReq {
  std::string id;
  long display = 0;
};

struct SpotlightReq {
  std::string id;
  std::string query;
};

struct AiReq {
  std::string id;
  std::string op;
  std::string prompt;
  std::string instructions;
  std::string tools;
};
