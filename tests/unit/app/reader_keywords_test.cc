// Which handler each command line reaches and with which record: one row per
// keyword test, in the reader's order, plus the collisions between keywords.

#include <functional>

#include "ai/ai_requests.h"
#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/records.h"
#include "core/window_chrome.h"
#include "core/window_commands.h"
#include "core/window_ops.h"
#include "services/audio_eq.h"
#include "services/audio_tap.h"
#include "services/clipboard.h"
#include "services/desktop_commands.h"
#include "services/dock_media.h"
#include "services/get_queries.h"
#include "services/image_services.h"
#include "services/notifications.h"
#include "services/permissions.h"
#include "services/protected_commands.h"
#include "services/screen_capture.h"
#include "services/speech_commands.h"
#include "tests/unit/core/test_support.h"
#include "webui/context_menu.h"
#include "webui/dialogs.h"
#include "webui/keys.h"
#include "webui/menu_bar.h"
#include "webui/menu_state.h"
#include "webui/navigation.h"
#include "webui/page_actions.h"
#include "webui/popups.h"
#include "webui/tray.h"

namespace {

using Check = std::function<void(const Handed&)>;

struct Row {
  std::string line;
  platform::HandlerFn handler;  // null = nothing may be handed over
  Check check;                  // may be empty
};

using V = std::vector<std::string>;

const std::vector<Row>& keyword_rows() {
  static const std::vector<Row> rows = {
      // 1
      {"RET 7:3 0 {\"a\": [1, 2]}", typed<do_reply>, [](const Handed& h) {
         auto& r = h.as<ReplyReq>();
         EXPECT_EQ(r.id, "7:3");
         EXPECT_EQ(r.status, 0);
         EXPECT_EQ(r.payload, "{\"a\": [1, 2]}");
       }},
      {"RET q12 -5 null", typed<do_reply>, [](const Handed& h) {
         EXPECT_EQ(h.as<ReplyReq>().id, "q12");
         EXPECT_EQ(h.as<ReplyReq>().status, -5);
         EXPECT_EQ(h.as<ReplyReq>().payload, "null");
       }},
      {"RET main:1 0 ", typed<do_reply>, [](const Handed& h) { EXPECT_EQ(h.as<ReplyReq>().payload, ""); }},
      {"RET main:1 0", nullptr, {}},
      // An empty status is 0; the status never reaches into the payload.
      {"RET q1  7", typed<do_reply>, [](const Handed& h) {
         EXPECT_EQ(h.as<ReplyReq>().status, 0);
         EXPECT_EQ(h.as<ReplyReq>().payload, "7");
       }},
      {"RET q1   ", typed<do_reply>, [](const Handed& h) {
         EXPECT_EQ(h.as<ReplyReq>().status, 0);
         EXPECT_EQ(h.as<ReplyReq>().payload, " ");
       }},
      {"RET q1 99999999999999999999 x", typed<do_reply>, [](const Handed& h) { EXPECT_NE(h.as<ReplyReq>().status, 0); }},
      {"RET main:1", nullptr, {}},
      // 2
      {"EVAL a\\tb\\nc", typed<do_eval_win>, [](const Handed& h) {
         EXPECT_EQ(h.as<EvalReq>().win, "main");
         EXPECT_EQ(h.as<EvalReq>().text, "a\tb\nc");
       }},
      {"EVAL@* x()", typed<do_eval_win>, [](const Handed& h) {
         EXPECT_EQ(h.as<EvalReq>().win, "*");
         EXPECT_EQ(h.as<EvalReq>().text, "x()");
       }},
      {"EVAL@w2", nullptr, {}},
      {"EVAL", nullptr, {}},
      {"EVALx()", nullptr, {}},
      // 3, 4
      {"TITLE@w2 My  App", typed<do_title_win>, [](const Handed& h) {
         EXPECT_EQ(h.as<EvalReq>().win, "w2");
         EXPECT_EQ(h.as<EvalReq>().text, "My  App");
       }},
      {"TITLE@w2", nullptr, {}},
      {"TITLE a\\nb", typed<do_title>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "a\\nb"); }},
      {"TITLE x\r", typed<do_title>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "x\r"); }},
      // 5, 6
      {"SIZE@w2 300 200", typed<do_size>, [](const Handed& h) {
         EXPECT_EQ(h.as<SizeReq>().window, "w2");
         EXPECT_EQ(h.as<SizeReq>().width, 300);
         EXPECT_EQ(h.as<SizeReq>().height, 200);
       }},
      {"SIZE@w2 big tall", typed<do_size>, [](const Handed& h) {
         EXPECT_EQ(h.as<SizeReq>().width, 600);
         EXPECT_EQ(h.as<SizeReq>().height, 400);
       }},
      {"SIZE 800", typed<do_size>, [](const Handed& h) {
         EXPECT_EQ(h.as<SizeReq>().window, "main");
         EXPECT_EQ(h.as<SizeReq>().width, 800);
         EXPECT_EQ(h.as<SizeReq>().height, 640);
       }},
      // 7
      {"WINOPEN w2\tfile:///a.html\tTwo\t320x240\t0\tclose\t1\tsidebar\t1\t1\t10\t20\tIGNORED\t12,14\tmain\t1",
       typed<do_winopen>, [](const Handed& h) {
         auto& r = h.as<WinOpenReq>();
         EXPECT_EQ(r.id, "w2");
         EXPECT_EQ(r.url, "file:///a.html");
         EXPECT_EQ(r.title, "Two");
         EXPECT_EQ(r.width, 320);
         EXPECT_EQ(r.height, 240);
         EXPECT_EQ((V{r.titlebar, r.buttons, r.transparent, r.material, r.square, r.firstMouse, r.traffic}),
                   (V{"0", "close", "1", "sidebar", "1", "1", "12,14"}));
         EXPECT_TRUE(r.hasPos);
         EXPECT_EQ(r.x, 10);
         EXPECT_EQ(r.y, 20);
         EXPECT_EQ(r.parent, "main");
         EXPECT_TRUE(r.panel);
       }},
      {"WINOPEN w3", typed<do_winopen>, [](const Handed& h) {
         auto& r = h.as<WinOpenReq>();
         EXPECT_EQ(r.id, "w3");
         EXPECT_EQ(r.url, "");
         EXPECT_EQ(r.title, "");
         EXPECT_EQ(r.width, 600);
         EXPECT_EQ(r.height, 400);
         EXPECT_FALSE(r.hasPos);
         EXPECT_EQ(r.parent, "");
         EXPECT_FALSE(r.panel);
       }},
      {"WINOPEN w4\tu\tt\t\t\t\t\t\t\t\t5\t", typed<do_winopen>, [](const Handed& h) {
         EXPECT_FALSE(h.as<WinOpenReq>().hasPos);  // y empty
       }},
      // 8
      {"WINCLOSE w2", typed<do_winclose>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "w2"); }},
      // 9
      {"DLG q1 open\tPick\t/tmp\ttxt", typed<do_dialog>, [](const Handed& h) {
         EXPECT_EQ(h.as<DlgReq>().id, "q1");
         EXPECT_EQ(h.as<DlgReq>().kind, "open");
         EXPECT_EQ(h.as<DlgReq>().args, (V{"Pick", "/tmp", "txt"}));
       }},
      {"DLG main:4 alert", typed<do_dialog>, [](const Handed& h) {
         EXPECT_EQ(h.as<DlgReq>().kind, "alert");
         EXPECT_TRUE(h.as<DlgReq>().args.empty());
       }},
      {"DLG q1", nullptr, {}},
      // 10, 11
      {"NAVR n5 allow now", typed<do_navr>, [](const Handed& h) {
         EXPECT_EQ(h.as<NavrReq>().id, "n5");
         EXPECT_EQ(h.as<NavrReq>().answer, "allow now");
       }},
      {"POPUPR p2 deny", typed<do_popupr>, [](const Handed& h) {
         EXPECT_EQ(h.as<PopuprReq>().id, "p2");
         EXPECT_EQ(h.as<PopuprReq>().answer, "deny");
       }},
      // 12, 13
      {"FIND q3 needle", typed<do_find>, [](const Handed& h) {
         EXPECT_EQ(h.as<FindReq>().text, "needle");
         EXPECT_TRUE(h.as<FindReq>().forward);
         EXPECT_FALSE(h.as<FindReq>().caseSensitive);
       }},
      {"FIND main:2 a b\t0\t1", typed<do_find>, [](const Handed& h) {
         EXPECT_EQ(h.as<FindReq>().id, "main:2");
         EXPECT_EQ(h.as<FindReq>().text, "a b");
         EXPECT_FALSE(h.as<FindReq>().forward);
         EXPECT_TRUE(h.as<FindReq>().caseSensitive);
       }},
      {"STOPFIND main:2", typed<do_stopfind>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "main:2"); }},
      // 15
      {"MENURESET@w2", typed<do_win_menu_reset>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "w2"); }},
      // 16-22 outside any builder: ignored
      {"MENU File", nullptr, {}},
      {"MENUROLE edit", nullptr, {}},
      {"ROLEITEM copy", nullptr, {}},
      {"ITEM a\tA", nullptr, {}},
      {"SEP", nullptr, {}},
      {"SUB s\tS", nullptr, {}},
      {"SUBEND", nullptr, {}},
      // 23 without a block: an empty application bar
      {"MENUEND", typed<apply_menus>, [](const Handed& h) { EXPECT_TRUE(h.as<std::vector<MenuSpec>>().empty()); }},
      // 25, 26
      {"TRAYEND", typed<apply_tray>, [](const Handed& h) {
         EXPECT_TRUE(h.as<TraySpec>().template_);
         EXPECT_FALSE(h.as<TraySpec>().remove);
       }},
      {"TRAYREMOVE", typed<apply_tray>, [](const Handed& h) {
         EXPECT_TRUE(h.as<TraySpec>().remove);
         EXPECT_TRUE(h.as<TraySpec>().template_);
         EXPECT_FALSE(h.as<TraySpec>().clickEvents);
       }},
      // 27, 28
      {"WINOP@w2 move 10 20", typed<do_winop>, [](const Handed& h) {
         EXPECT_EQ(h.as<WinopReq>().window, "w2");
         EXPECT_EQ(h.as<WinopReq>().op, "move 10 20");
       }},
      {"WINOP@w2", nullptr, {}},
      {"WINOP minimize", typed<do_winop>, [](const Handed& h) {
         EXPECT_EQ(h.as<WinopReq>().window, "main");
         EXPECT_EQ(h.as<WinopReq>().op, "minimize");
       }},
      {"WINOPS x", nullptr, {}},
      // 30-32
      {"CTXEND", typed<apply_ctx>, [](const Handed& h) { EXPECT_TRUE(h.as<CtxReq>().active); }},
      {"CTXCLEAR", typed<apply_ctx>, [](const Handed& h) {
         EXPECT_FALSE(h.as<CtxReq>().active);
         EXPECT_TRUE(h.as<CtxReq>().items.empty());
       }},
      {"CTXSUPPRESS 1", typed<apply_ctx_suppress>, [](const Handed& h) { EXPECT_TRUE(h.as<bool>()); }},
      {"CTXSUPPRESS 1 ", typed<apply_ctx_suppress>, [](const Handed& h) { EXPECT_FALSE(h.as<bool>()); }},
      // 34, 35
      {"HKREG q9 toggle\tcmd+shift+k", typed<do_hotkey>, [](const Handed& h) {
         EXPECT_EQ(h.as<HotkeyReq>().name, "toggle");
         EXPECT_EQ(h.as<HotkeyReq>().combo, "cmd+shift+k");
         EXPECT_EQ(h.as<HotkeyReq>().reqId, "q9");
       }},
      {"HKREG q9 toggle", nullptr, {}},
      {"HKREG q9", nullptr, {}},
      {"HKUNREG toggle", typed<do_hotkey>, [](const Handed& h) {
         EXPECT_EQ(h.as<HotkeyReq>().name, "toggle");
         EXPECT_EQ(h.as<HotkeyReq>().combo, "");
         EXPECT_EQ(h.as<HotkeyReq>().reqId, "");
       }},
      // 36, 37
      {"AUDIOTAP STOP", typed<do_audiotap>, [](const Handed& h) {
         EXPECT_EQ(h.as<AudioTapReq>().scope, "__stop__");
         EXPECT_EQ(h.as<AudioTapReq>().id, "");
         EXPECT_EQ(h.as<AudioTapReq>().interval, 0);
       }},
      {"AUDIOTAP STOPPING now", typed<do_audiotap>, [](const Handed& h) {
         EXPECT_EQ(h.as<AudioTapReq>().scope, "__stop__");
       }},
      {"AUDIOTAP t1 system\t1\t40", typed<do_audiotap>, [](const Handed& h) {
         EXPECT_EQ(h.as<AudioTapReq>().id, "t1");
         EXPECT_EQ(h.as<AudioTapReq>().scope, "system");
         EXPECT_TRUE(h.as<AudioTapReq>().exclude_self);
         EXPECT_EQ(h.as<AudioTapReq>().interval, 40);
       }},
      {"AUDIOTAP t2", typed<do_audiotap>, [](const Handed& h) {
         EXPECT_EQ(h.as<AudioTapReq>().id, "t2");
         EXPECT_EQ(h.as<AudioTapReq>().scope, "");
         EXPECT_FALSE(h.as<AudioTapReq>().exclude_self);
         EXPECT_EQ(h.as<AudioTapReq>().interval, 80);
       }},
      // 38-40
      {"AUDIOFILTERSET 0\t100\t0.7\t3", typed<do_audiofilterset>,
       [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "0\t100\t0.7\t3"); }},
      {"AUDIOFILTERSET", nullptr, {}},
      {"AUDIOFILTERS", typed<do_audiofilters>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), ""); }},
      {"AUDIOFILTERS peak,1000,1,3", typed<do_audiofilters>,
       [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "peak,1000,1,3"); }},
      {"AUDIOFILTERSX", nullptr, {}},
      {"AUDIOBALANCE", typed<do_audiobalance>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "0"); }},
      {"AUDIOBALANCE -0.5", typed<do_audiobalance>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "-0.5"); }},
      {"AUDIOBALANCEx0.25", typed<do_audiobalance>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "0.25"); }},
      // 41
      {"MENUUPD save\tSave As\t1\t0", typed<do_menu_update>, [](const Handed& h) {
         auto& r = h.as<MenuUpdReq>();
         EXPECT_EQ((V{r.scope, r.id, r.label, r.checked, r.enabled}), (V{"", "save", "Save As", "1", "0"}));
       }},
      {"MENUUPD@tray quit", typed<do_menu_update>, [](const Handed& h) {
         auto& r = h.as<MenuUpdReq>();
         EXPECT_EQ((V{r.scope, r.id, r.label, r.checked, r.enabled}), (V{"tray", "quit", "", "", ""}));
       }},
      {"MENUUPD@tray", nullptr, {}},
      // 42, 43
      {"GET g1 battery level", typed<do_get>, [](const Handed& h) {
         EXPECT_EQ(h.as<GetReq>().id, "g1");
         EXPECT_EQ(h.as<GetReq>().key, "battery level");
       }},
      {"GET g1", nullptr, {}},
      {"NOTIFY n1\tHi\tBody\tSub\t1\t[{\\\"id\\\":\\\"a\\\"}]", typed<do_notify>, [](const Handed& h) {
         auto& r = h.as<NotifReq>();
         EXPECT_EQ((V{r.id, r.title, r.body, r.subtitle, r.actions}),
                   (V{"n1", "Hi", "Body", "Sub", "[{\"id\":\"a\"}]"}));
         EXPECT_TRUE(r.sound);
       }},
      {"NOTIFY n2\tT\tB\tS\t1", typed<do_notify>, [](const Handed& h) {
         EXPECT_EQ(h.as<NotifReq>().actions, "");
         EXPECT_TRUE(h.as<NotifReq>().sound);
       }},
      // 44
      {"CHROME 0\tnone\t1\thud\t1\t0\tSKIP\t20,30", typed<do_chrome>, [](const Handed& h) {
         auto& r = h.as<ChromeReq>();
         EXPECT_EQ((V{r.window, r.titlebar, r.buttons, r.transparent, r.material, r.square, r.firstMouse,
                      r.traffic}),
                   (V{"main", "0", "none", "1", "hud", "1", "0", "20,30"}));
       }},
      {"CHROME@w2 1", typed<do_chrome>, [](const Handed& h) {
         EXPECT_EQ(h.as<ChromeReq>().window, "w2");
         EXPECT_EQ(h.as<ChromeReq>().titlebar, "1");
         EXPECT_EQ(h.as<ChromeReq>().traffic, "");
       }},
      // 45, 46
      {"DRAGWIN", typed<do_dragwin>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "main"); }},
      {"DRAGWIN@", typed<do_dragwin>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "main"); }},
      {"DRAGWIN@w2", typed<do_dragwin>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "w2"); }},
      {"DRAGWIN w2", nullptr, {}},
      {"RESIZEWIN", nullptr, {}},
      {"RESIZEWIN se", typed<do_resizewin>, [](const Handed& h) {
         EXPECT_EQ(h.as<ResizeReq>().window, "main");
         EXPECT_EQ(h.as<ResizeReq>().edge, "se");
       }},
      {"RESIZEWIN@w2 n", typed<do_resizewin>, [](const Handed& h) {
         EXPECT_EQ(h.as<ResizeReq>().window, "w2");
         EXPECT_EQ(h.as<ResizeReq>().edge, "n");
       }},
      {"RESIZEWIN@w2", nullptr, {}},
      // 47, 48
      {"CLIPWRITE a\\tb\t<b>x</b>\t\t#fff\t\t/tmp/a\\\\b", typed<do_clip_write>, [](const Handed& h) {
         auto& r = h.as<ClipWriteReq>();
         EXPECT_EQ((V{r.text, r.html, r.image, r.color}), (V{"a\tb", "<b>x</b>", "", "#fff"}));
         EXPECT_EQ(r.files, (V{"/tmp/a\\b"}));
       }},
      {"CLIPWATCH 250", typed<do_clip_watch>, [](const Handed& h) { EXPECT_EQ(h.as<int>(), 250); }},
      {"CLIPWATCH off", typed<do_clip_watch>, [](const Handed& h) { EXPECT_EQ(h.as<int>(), 0); }},
      // 49, 50
      {"DRAGOUT /i.png\t/a\t\t/b\\tc", typed<do_dragout>, [](const Handed& h) {
         EXPECT_EQ(h.as<DragOutReq>().window, "main");
         EXPECT_EQ(h.as<DragOutReq>().icon, "/i.png");
         EXPECT_EQ(h.as<DragOutReq>().paths, (V{"/a", "/b\tc"}));
       }},
      {"DRAGOUT@w2 \t/a", typed<do_dragout>, [](const Handed& h) {
         EXPECT_EQ(h.as<DragOutReq>().window, "w2");
         EXPECT_EQ(h.as<DragOutReq>().icon, "");
         EXPECT_EQ(h.as<DragOutReq>().paths, (V{"/a"}));
       }},
      {"KEYSTROKE k1 cmd+v", typed<do_keystroke>, [](const Handed& h) {
         EXPECT_EQ(h.as<KeystrokeReq>().id, "k1");
         EXPECT_EQ(h.as<KeystrokeReq>().spec, "cmd+v");
       }},
      // 51-56
      {"PERMCHK p1 camera", typed<do_perm>, [](const Handed& h) {
         EXPECT_EQ(h.as<PermReq>().kind, "camera");
         EXPECT_FALSE(h.as<PermReq>().request);
       }},
      {"PERMREQ p2 microphone", typed<do_perm>, [](const Handed& h) {
         EXPECT_EQ(h.as<PermReq>().id, "p2");
         EXPECT_TRUE(h.as<PermReq>().request);
       }},
      {"SHELL s1 open\t/tmp/a\\\\b", typed<do_shell>, [](const Handed& h) {
         EXPECT_EQ(h.as<ShellReq>().op, "open");
         EXPECT_EQ(h.as<ShellReq>().arg, "/tmp/a\\b");
       }},
      {"LOGIN l1 set 1", typed<do_login>, [](const Handed& h) { EXPECT_EQ(h.as<LoginReq>().action, 1); }},
      {"LOGIN l1 set 0", typed<do_login>, [](const Handed& h) { EXPECT_EQ(h.as<LoginReq>().action, 0); }},
      {"LOGIN l1 set 1 now", typed<do_login>, [](const Handed& h) { EXPECT_EQ(h.as<LoginReq>().action, -1); }},
      {"POWER w1 on\t1\tplaying\\tvideo", typed<do_power>, [](const Handed& h) {
         EXPECT_TRUE(h.as<PowerReq>().on);
         EXPECT_TRUE(h.as<PowerReq>().display);
         EXPECT_EQ(h.as<PowerReq>().reason, "playing\tvideo");
       }},
      {"SOUND s1 Glass\\n", typed<do_sound>, [](const Handed& h) {
         EXPECT_EQ(h.as<SoundReq>().id, "s1");
         EXPECT_EQ(h.as<SoundReq>().name, "Glass\n");
       }},
      {"SOUND s2", typed<do_sound>, [](const Handed& h) {
         EXPECT_EQ(h.as<SoundReq>().id, "s2");
         EXPECT_EQ(h.as<SoundReq>().name, "");
       }},
      {"SHARE 10\t20\thi\\n\thttp://x\t/a\t\t/b", typed<do_share>, [](const Handed& h) {
         auto& r = h.as<ShareReq>();
         EXPECT_EQ(r.window, "main");
         EXPECT_EQ(r.x, 10);
         EXPECT_EQ(r.y, 20);
         EXPECT_EQ(r.text, "hi\n");
         EXPECT_EQ(r.url, "http://x");
         EXPECT_EQ(r.files, (V{"/a", "/b"}));
       }},
      {"SHARE@w2 5", typed<do_share>, [](const Handed& h) {
         EXPECT_EQ(h.as<ShareReq>().window, "w2");
         EXPECT_EQ(h.as<ShareReq>().x, 5);
         EXPECT_EQ(h.as<ShareReq>().y, 0);
       }},
      {"SHARE@w2", nullptr, {}},
      // 57-60
      {"NOWPLAYING", typed<do_nowplaying>, [](const Handed& h) { EXPECT_EQ(h.as<NowPlayingReq>().info, ""); }},
      {"NOWPLAYING {\"t\":\"a\\\\nb\"}", typed<do_nowplaying>,
       [](const Handed& h) { EXPECT_EQ(h.as<NowPlayingReq>().info, "{\"t\":\"a\\nb\"}"); }},
      {"SAY v1 Hello\\nthere\tAlex\t1.5", typed<do_say>, [](const Handed& h) {
         EXPECT_EQ(h.as<SayReq>().text, "Hello\nthere");
         EXPECT_EQ(h.as<SayReq>().voice, "Alex");
         EXPECT_DOUBLE_EQ(h.as<SayReq>().rate, 1.5);
       }},
      {"SAY v2 Hi", typed<do_say>, [](const Handed& h) {
         EXPECT_EQ(h.as<SayReq>().voice, "");
         EXPECT_DOUBLE_EQ(h.as<SayReq>().rate, 0.0);
       }},
      {"RECORD r1 start 69733248\t/tmp/a\\tb.mp4", typed<do_record>, [](const Handed& h) {
         EXPECT_TRUE(h.as<RecordReq>().start);
         EXPECT_EQ(h.as<RecordReq>().display, 69733248);
         EXPECT_EQ(h.as<RecordReq>().path, "/tmp/a\tb.mp4");
       }},
      {"RECORD r1 stop", typed<do_record>, [](const Handed& h) {
         EXPECT_FALSE(h.as<RecordReq>().start);
         EXPECT_EQ(h.as<RecordReq>().display, 0);
         EXPECT_EQ(h.as<RecordReq>().path, "");
       }},
      {"RECORD r1 started 5\t/x", typed<do_record>, [](const Handed& h) { EXPECT_FALSE(h.as<RecordReq>().start); }},
      {"WINCTRL c1 4242\t1\t2\t3", typed<do_winctrl>, [](const Handed& h) {
         auto& r = h.as<WinCtrlReq>();
         EXPECT_EQ(r.pid, 4242);
         EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{1, 2, 3, 0}));
       }},
      // 61-65
      {"SAYSTOP", typed<do_saystop>, [](const Handed& h) { EXPECT_EQ(h.record, nullptr); }},
      {"VOICES v9", typed<do_voices>, [](const Handed& h) { EXPECT_EQ(h.as<VoicesReq>().id, "v9"); }},
      {"PICKCOLOR c3", typed<do_pickcolor>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "c3"); }},
      {"OCR o1 /tmp/a b.png", typed<do_ocr>, [](const Handed& h) {
         EXPECT_EQ(h.as<OcrReq>().id, "o1");
         EXPECT_EQ(h.as<OcrReq>().path, "/tmp/a b.png");
       }},
      {"THUMB t1 /a.pdf\t256", typed<do_thumb>, [](const Handed& h) {
         EXPECT_EQ(h.as<ThumbReq>().path, "/a.pdf");
         EXPECT_EQ(h.as<ThumbReq>().size, 256);
       }},
      // 66-70
      {"SECRET k1 set\tsvc\\t1\tme\tpa\\\\ss", typed<do_secret>, [](const Handed& h) {
         auto& r = h.as<SecretReq>();
         EXPECT_EQ((V{r.id, r.op, r.service, r.account, r.value}), (V{"k1", "set", "svc\t1", "me", "pa\\ss"}));
       }},
      {"AUTH a1 Unlock\\nnow", typed<do_auth>, [](const Handed& h) { EXPECT_EQ(h.as<AuthReq>().reason, "Unlock\nnow"); }},
      {"OSA o2 say \\\"hi\\\"", typed<do_osa>, [](const Handed& h) { EXPECT_EQ(h.as<OsaReq>().source, "say \"hi\""); }},
      {"QUICKLOOK", typed<do_quicklook>, [](const Handed& h) { EXPECT_TRUE(h.as<QLReq>().paths.empty()); }},
      {"QUICKLOOK /a\t\t/b", typed<do_quicklook>, [](const Handed& h) { EXPECT_EQ(h.as<QLReq>().paths, (V{"/a", "/b"})); }},
      {"CAPTURE c1 42", typed<do_capture>, [](const Handed& h) {
         EXPECT_EQ(h.as<CaptureReq>().id, "c1");
         EXPECT_EQ(h.as<CaptureReq>().display, 42);
       }},
      {"CAPTURE c2", typed<do_capture>, [](const Handed& h) {
         EXPECT_EQ(h.as<CaptureReq>().id, "c2");
         EXPECT_EQ(h.as<CaptureReq>().display, 0);
       }},
      // 71-75
      {"BADGE", typed<do_badge>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), ""); }},
      {"BADGE 3\\nnew", typed<do_badge>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "3\nnew"); }},
      {"ATTENTION", typed<do_attention>, [](const Handed& h) { EXPECT_EQ(h.as<int>(), 0); }},
      {"ATTENTION 1", typed<do_attention>, [](const Handed& h) { EXPECT_EQ(h.as<int>(), 1); }},
      {"PROGRESS", typed<do_progress>, [](const Handed& h) { EXPECT_DOUBLE_EQ(h.as<double>(), -1.0); }},
      {"PROGRESS 0.5", typed<do_progress>, [](const Handed& h) { EXPECT_DOUBLE_EQ(h.as<double>(), 0.5); }},
      {"PDF p1 /tmp/o\\tut.pdf", typed<do_pdf>, [](const Handed& h) {
         EXPECT_EQ(h.as<PdfReq>().id, "p1");
         EXPECT_EQ(h.as<PdfReq>().path, "/tmp/o\tut.pdf");
         EXPECT_EQ(h.as<PdfReq>().winid, "main");
       }},
      {"PDF@w2 p2 /o.pdf", typed<do_pdf>, [](const Handed& h) {
         EXPECT_EQ(h.as<PdfReq>().id, "p2");
         EXPECT_EQ(h.as<PdfReq>().path, "/o.pdf");
         EXPECT_EQ(h.as<PdfReq>().winid, "w2");
       }},
      {"PDF@w2 p2", nullptr, {}},
      {"PDF p1", nullptr, {}},
      {"APPICON", typed<do_appicon>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), ""); }},
      {"APPICON /a\\\\b.png", typed<do_appicon>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "/a\\b.png"); }},
      // 76-78
      {"COOKIES c1 get\thttp://x", typed<do_cookies>, [](const Handed& h) {
         EXPECT_EQ(h.as<CookieReq>().id, "c1");
         EXPECT_EQ(h.as<CookieReq>().rest, "get\thttp://x");
       }},
      {"SPOTLIGHT s1 kind:pdf\\tx", typed<do_spotlight>,
       [](const Handed& h) { EXPECT_EQ(h.as<SpotlightReq>().query, "kind:pdf\tx"); }},
      {"AI gen a1 Hi\\n\tBe brief\t[]", typed<do_ai>, [](const Handed& h) {
         auto& r = h.as<AiReq>();
         EXPECT_EQ((V{r.id, r.op, r.prompt, r.instructions, r.tools}), (V{"a1", "gen", "Hi\n", "Be brief", "[]"}));
       }},
      {"AI avail a2", typed<do_ai>, [](const Handed& h) {
         auto& r = h.as<AiReq>();
         EXPECT_EQ((V{r.id, r.op, r.prompt, r.instructions, r.tools}), (V{"a2", "avail", "", "", ""}));
       }},
      {"AI avail", nullptr, {}},
      // 79: carried out by the reader, nothing handed over
      {"AITOOLRESULT 5 {\"ok\":true}", nullptr, {}},
      {"AITOOLRESULT 5", nullptr, {}},
      // 80-83
      {"PRINT", typed<do_print>, [](const Handed& h) { EXPECT_EQ(h.record, nullptr); }},
      {"PRINT@w2", typed<do_print>, [](const Handed& h) { EXPECT_EQ(h.as<std::string>(), "w2"); }},
      {"RELOAD", typed<do_reload>, [](const Handed& h) { EXPECT_EQ(h.record, nullptr); }},
      {"QUIT", typed<do_terminate>, [](const Handed& h) { EXPECT_EQ(h.record, nullptr); }},
      // lines that match nothing
      {"", nullptr, {}},
      {"QUIT\r", nullptr, {}},
      {"quit", nullptr, {}},
      {"RELOAD ", nullptr, {}},
      {"PRINTx", nullptr, {}},
      {"SAYSTOP now", nullptr, {}},
      {"WINOPENw2", nullptr, {}},
      {"TITLE", nullptr, {}},
      {"GETg1 x", nullptr, {}},
      {"MENUBEGIN x", nullptr, {}},
  };
  return rows;
}

class ReaderKeywords : public FakeDesktopTest {};

TEST_F(ReaderKeywords, EachLineReachesItsHandlerWithItsRecord) {
  for (const Row& row : keyword_rows()) {
    SCOPED_TRACE("line: " + row.line);
    CommandReader reader;
    reader.handle_line(row.line);
    std::vector<Handed> handed = take_handed(desktop);
    if (!row.handler) {
      EXPECT_TRUE(handed.empty());
    } else {
      ASSERT_EQ(handed.size(), 1u);
      EXPECT_EQ(handed[0].handler, row.handler);
      if (row.check) row.check(handed[0]);
    }
    for (const Handed& h : handed) h.release();
    desktop.queue.drain();  // what the handlers queued in turn
  }
}

TEST_F(ReaderKeywords, HandlersReceiveTheMainWebViewHandleReadAtHandOver) {
  int view = 0;
  g_w.store(&view);
  CommandReader reader;
  reader.handle_line("TITLE x");
  g_w.store(nullptr);
  reader.handle_line("TITLE y");
  auto items = desktop.queue.take();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].w, &view);
  EXPECT_EQ(items[1].w, nullptr);
  for (auto& it : items) it.handler(nullptr, it.record);  // &view is no real handle
}

TEST_F(ReaderKeywords, AboutHookIsCarriedOutOnTheReaderThread) {
  CommandReader reader;
  reader.handle_line("ABOUTHOOK 1");
  EXPECT_TRUE(g_about_to_app.load());
  reader.handle_line("ABOUTHOOK 0");
  EXPECT_FALSE(g_about_to_app.load());
  reader.handle_line("ABOUTHOOK 1");
  reader.handle_line("ABOUTHOOK 1 ");
  EXPECT_FALSE(g_about_to_app.load());
  EXPECT_EQ(desktop.queue.size(), 0u);
}

TEST_F(ReaderKeywords, TheTitleKeywordsAreTestedAddressedFormFirst) {
  // "TITLE@x y" must not become a plain title "@x y"-less, nor "TITLE " match "TITLE@".
  CommandReader reader;
  reader.handle_line("TITLE @w2 x");
  auto h = take_handed(desktop);
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0].handler, typed<do_title>);
  EXPECT_EQ(h[0].as<std::string>(), "@w2 x");
  h[0].release();
}

}  // namespace
