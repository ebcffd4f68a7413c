#include "services/service_commands.h"

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

void fill_service_commands(CommandTable& t) {
  t.audiotap = command<do_audiotap>;
  t.audiofilterset = command<do_audiofilterset>;
  t.audiofilters = command<do_audiofilters>;
  t.audiobalance = command<do_audiobalance>;
  t.get = command<do_get>;
  t.notify = command<do_notify>;
  t.clip_write = command<do_clip_write>;
  t.clip_watch = command<do_clip_watch>;
  t.perm = command<do_perm>;
  t.shell = command<do_shell>;
  t.login = command<do_login>;
  t.power = command<do_power>;
  t.sound = command<do_sound>;
  t.share = command<do_share>;
  t.nowplaying = command<do_nowplaying>;
  t.say = command<do_say>;
  t.record = command<do_record>;
  t.winctrl = command<do_winctrl>;
  t.saystop = command<do_saystop>;
  t.voices = command<do_voices>;
  t.pickcolor = command<do_pickcolor>;
  t.ocr = command<do_ocr>;
  t.thumb = command<do_thumb>;
  t.secret = command<do_secret>;
  t.auth = command<do_auth>;
  t.osa = command<do_osa>;
  t.quicklook = command<do_quicklook>;
  t.capture = command<do_capture>;
  t.badge = command<do_badge>;
  t.attention = command<do_attention>;
  t.progress = command<do_progress>;
  t.appicon = command<do_appicon>;
  t.spotlight = command<do_spotlight>;
}
