#pragma once
// Every command handler the reader hands lines to. A handler runs on the main
// thread, takes the main window's web-view handle and its record, owns the record
// and deletes it on every path.

#include <string>

// Page bridge.
void do_reply(void* w, void* rec);       // ReplyReq
void do_eval_win(void* w, void* rec);    // EvalReq
// Windows.
void do_title_win(void* w, void* rec);   // EvalReq (text = title)
void do_title(void* w, void* rec);       // std::string
void do_size(void* w, void* rec);        // SizeReq
void do_winopen(void* w, void* rec);     // WinOpenReq
void do_winclose(void* w, void* rec);    // std::string
void do_dragwin(void* w, void* rec);     // std::string
void do_resizewin(void* w, void* rec);   // ResizeReq
void do_dragout(void* w, void* rec);     // DragOutReq
void do_winop(void* w, void* rec);       // WinopReq
void do_chrome(void* w, void* rec);      // ChromeReq

// Web content, menus and dialogs.
void do_dialog(void* w, void* rec);      // DlgReq
void do_navr(void* w, void* rec);        // NavrReq
void do_popupr(void* w, void* rec);      // PopuprReq
void do_find(void* w, void* rec);        // FindReq
void do_stopfind(void* w, void* rec);    // std::string
void apply_menus(void* w, void* rec);    // std::vector<MenuSpec>
void do_win_menu_set(void* w, void* rec);    // WinMenuReq: apply_win_menu(window, menus, set)
void do_win_menu_reset(void* w, void* rec);  // std::string: apply_win_menu(window, {}, reset)
void apply_tray(void* w, void* rec);     // TraySpec
void apply_ctx(void* w, void* rec);      // CtxReq
void apply_ctx_suppress(void* w, void* rec);  // bool
void do_hotkey(void* w, void* rec);      // HotkeyReq
void do_menu_update(void* w, void* rec); // MenuUpdReq
void do_keystroke(void* w, void* rec);   // KeystrokeReq
void do_pdf(void* w, void* rec);         // PdfReq
void do_cookies(void* w, void* rec);     // CookieReq
void do_print(void* w, void* rec);       // null (PRINT) or std::string (PRINT@)
void do_reload(void* w, void* rec);      // null

// System and media services.
void do_audiotap(void* w, void* rec);       // AudioTapReq
void do_audiofilterset(void* w, void* rec); // std::string
void do_audiofilters(void* w, void* rec);   // std::string
void do_audiobalance(void* w, void* rec);   // std::string
void do_get(void* w, void* rec);            // GetReq
void do_notify(void* w, void* rec);         // NotifReq
void do_clip_write(void* w, void* rec);     // ClipWriteReq
void do_clip_watch(void* w, void* rec);     // int
void do_perm(void* w, void* rec);           // PermReq
void do_shell(void* w, void* rec);          // ShellReq
void do_login(void* w, void* rec);          // LoginReq
void do_power(void* w, void* rec);          // PowerReq
void do_sound(void* w, void* rec);          // SoundReq
void do_share(void* w, void* rec);          // ShareReq
void do_nowplaying(void* w, void* rec);     // NowPlayingReq
void do_say(void* w, void* rec);            // SayReq
void do_record(void* w, void* rec);         // RecordReq
void do_winctrl(void* w, void* rec);        // WinCtrlReq
void do_saystop(void* w, void* rec);        // null
void do_voices(void* w, void* rec);         // VoicesReq
void do_pickcolor(void* w, void* rec);      // std::string
void do_ocr(void* w, void* rec);            // OcrReq
void do_thumb(void* w, void* rec);          // ThumbReq
void do_secret(void* w, void* rec);         // SecretReq
void do_auth(void* w, void* rec);           // AuthReq
void do_osa(void* w, void* rec);            // OsaReq
void do_quicklook(void* w, void* rec);      // QLReq
void do_capture(void* w, void* rec);        // CaptureReq
void do_badge(void* w, void* rec);          // std::string
void do_attention(void* w, void* rec);      // int
void do_progress(void* w, void* rec);       // double
void do_appicon(void* w, void* rec);        // std::string
void do_spotlight(void* w, void* rec);      // SpotlightReq

// On-device AI.
void do_ai(void* w, void* rec);             // AiReq
// Called on the reader thread for AITOOLRESULT; value is already unescaped.
void ai_tool_result(long id, const std::string& value);

// Deletes a record of the given type; what a handler does on paths with no work.
template <class T>
inline void delete_record(void* rec) {
  delete static_cast<T*>(rec);
}
