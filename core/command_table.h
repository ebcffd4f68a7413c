#pragma once
// The backend's commands as the reader hands them over: one field per command, in
// the order the reader tests its keywords, each with its wire keywords and the
// record it carries. Core reads the protocol but names nothing of the folders that
// carry the commands out: app/ fills the table with their handlers and installs it
// once at start-up, before the reader starts.
//
// Contract of a handler: it runs on the main thread, one at a time in arrival
// order, with the main window's web-view handle (null when windowless), and owns
// its record through a unique_ptr from its first line on; nothing deletes a
// record by hand. A field left empty is a command this host cannot carry out: the
// reader lets its lines go (and says so in debug mode).

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "core/menu_model.h"
#include "core/records.h"
#include "platform/main_queue.h"

// One command's handler as the main queue runs it; Req is the record the reader
// builds for it (void: none).
template <class Req>
struct Command {
  platform::HandlerFn run = nullptr;  // takes over the record handed to it as void*
  explicit operator bool() const { return run != nullptr; }
};

namespace command_detail {
template <class Fn>
struct RecordOf;
template <class Req>
struct RecordOf<void (*)(void*, std::unique_ptr<Req>)> {
  using type = Req;
};
template <>
struct RecordOf<void (*)(void*)> {
  using type = void;
};
}  // namespace command_detail

// The record type of handler F: void (*)(void* w, std::unique_ptr<Req>) takes a
// Req, void (*)(void* w) none.
template <auto F>
using RecordOf = typename command_detail::RecordOf<decltype(F)>::type;

// Handler F as a platform::HandlerFn: the void* record becomes F's unique_ptr
// before anything else runs, so it is freed exactly once whatever F does. A
// handler without a record is handed none.
template <auto F>
void typed(void* w, void* record) {
  if constexpr (std::is_void_v<RecordOf<F>>)
    F(w);
  else
    F(w, std::unique_ptr<RecordOf<F>>(static_cast<RecordOf<F>*>(record)));
}

// The table entry for handler F; it fits only a field of F's record type.
template <auto F>
inline constexpr Command<RecordOf<F>> command{&typed<F>};

struct CommandTable {
  Command<ReplyReq> reply;                // RET <id> <status> <payload>
  Command<EvalReq> eval;                  // EVAL, EVAL@<w>
  Command<EvalReq> title_win;             // TITLE@<w>: EvalReq, its text the title
  Command<std::string> title;             // TITLE: the main window's title
  Command<SizeReq> size;                  // SIZE@<w>, SIZE
  Command<WinOpenReq> winopen;            // WINOPEN
  Command<std::string> winclose;          // WINCLOSE: the window id
  Command<DlgReq> dialog;                 // DLG
  Command<NavrReq> navr;                  // NAVR
  Command<PopuprReq> popupr;              // POPUPR
  Command<FindReq> find;                  // FIND
  Command<std::string> stopfind;          // STOPFIND: the call id
  Command<std::string> win_menu_reset;    // MENURESET@<w>: the window id
  Command<std::vector<MenuSpec>> menus;   // MENUEND after MENUBEGIN: the application bar
  Command<WinMenuReq> win_menu_set;       // MENUEND after MENUBEGIN@<w>: a window's bar
  Command<TraySpec> tray;                 // TRAYEND, TRAYREMOVE
  Command<WinopReq> winop;                // WINOP@<w>, WINOP
  Command<CtxReq> ctx;                    // CTXEND, CTXCLEAR
  Command<bool> ctx_suppress;             // CTXSUPPRESS
  Command<HotkeyReq> hotkey;              // HKREG, HKUNREG
  Command<AudioTapReq> audiotap;          // AUDIOTAP STOP, AUDIOTAP
  Command<std::string> audiofilterset;    // AUDIOFILTERSET: its tab-separated fields
  Command<std::string> audiofilters;      // AUDIOFILTERS: the filters
  Command<std::string> audiobalance;      // AUDIOBALANCE: the balance
  Command<MenuUpdReq> menu_update;        // MENUUPD, MENUUPD@<scope>
  Command<GetReq> get;                    // GET
  Command<NotifReq> notify;               // NOTIFY
  Command<ChromeReq> chrome;              // CHROME, CHROME@<w>
  Command<std::string> dragwin;           // DRAGWIN, DRAGWIN@<w>: the window id
  Command<ResizeReq> resizewin;           // RESIZEWIN, RESIZEWIN@<w>
  Command<ClipWriteReq> clip_write;       // CLIPWRITE
  Command<int> clip_watch;                // CLIPWATCH: the interval in ms
  Command<DragOutReq> dragout;            // DRAGOUT, DRAGOUT@<w>
  Command<KeystrokeReq> keystroke;        // KEYSTROKE
  Command<PermReq> perm;                  // PERMCHK, PERMREQ
  Command<ShellReq> shell;                // SHELL
  Command<LoginReq> login;                // LOGIN
  Command<PowerReq> power;                // POWER
  Command<SoundReq> sound;                // SOUND
  Command<ShareReq> share;                // SHARE, SHARE@<w>
  Command<NowPlayingReq> nowplaying;      // NOWPLAYING
  Command<SayReq> say;                    // SAY
  Command<RecordReq> record;              // RECORD
  Command<WinCtrlReq> winctrl;            // WINCTRL
  Command<void> saystop;                  // SAYSTOP
  Command<VoicesReq> voices;              // VOICES
  Command<std::string> pickcolor;         // PICKCOLOR: the request id
  Command<OcrReq> ocr;                    // OCR
  Command<ThumbReq> thumb;                // THUMB
  Command<SecretReq> secret;              // SECRET
  Command<AuthReq> auth;                  // AUTH
  Command<OsaReq> osa;                    // OSA
  Command<QLReq> quicklook;               // QUICKLOOK
  Command<CaptureReq> capture;            // CAPTURE
  Command<std::string> badge;             // BADGE: the label
  Command<int> attention;                 // ATTENTION
  Command<double> progress;               // PROGRESS
  Command<PdfReq> pdf;                    // PDF, PDF@<w>
  Command<std::string> appicon;           // APPICON: the image's path
  Command<CookieReq> cookies;             // COOKIES
  Command<SpotlightReq> spotlight;        // SPOTLIGHT
  Command<AiReq> ai;                      // AI
  // AITOOLRESULT <n> <value>: run on the reader thread itself, value unescaped.
  void (*ai_tool_result)(long id, const std::string& value) = nullptr;
  Command<std::string> print;             // PRINT (no record: the main window), PRINT@<w>: the window id
  Command<void> reload;                   // RELOAD
  Command<void> quit;                     // QUIT
};

// Installs the table (a copy) that the reader hands commands to. Main thread,
// before the reader thread starts; tests may install another while no reader runs.
void install_command_table(const CommandTable& table);
// The installed table; all fields empty before the first install.
const CommandTable& command_table();
