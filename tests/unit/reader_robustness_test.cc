// Random and mutated command lines, built from the real keywords, through the
// reader in random chunks: nothing may crash, hang or leak (run under the
// sanitizers with a few million lines; QUIBEX_FUZZ_LINES sets the count).

#include <cstdlib>
#include <random>

#include "test_support.h"

namespace {

const char* const kSeeds[] = {
    "RET 7:1 0 {\"a\":1}", "RET q1 1 null", "EVAL x()", "EVAL@* y()", "TITLE@w t", "TITLE t", "SIZE@w 1 2",
    "SIZE 3 4", "WINOPEN w\tu\tt\t1x2\t0\tall\t1\tm\t1\t1\t5\t6\t\t1,2\tmain\t1", "WINCLOSE w", "DLG q1 open\ta\tb",
    "NAVR n a", "POPUPR p a", "FIND q f\t0\t1", "STOPFIND q", "MENUBEGIN", "MENUBEGIN@w", "MENURESET@w", "MENU M",
    "MENUROLE edit\tnostd", "ROLEITEM copy", "ITEM i\tI\tcmd+i\tcd", "SEP", "SUB s\tS", "SUBEND", "MENUEND",
    "TRAYBEGIN t\ti\t0\ttt\t1", "TRAYEND", "TRAYREMOVE", "WINOP@w zoom", "WINOP hide", "CTXBEGIN", "CTXEND",
    "CTXCLEAR", "CTXSUPPRESS 1", "ABOUTHOOK 1", "HKREG q n\tc", "HKUNREG n", "AUDIOTAP STOP",
    "AUDIOTAP t s\t1\t20", "AUDIOFILTERSET 0\t1\t2\t3", "AUDIOFILTERS a,1,2,3", "AUDIOBALANCE 1", "MENUUPD i\tl\t1\t1",
    "MENUUPD@w i", "GET g k", "NOTIFY n\tt\tb\ts\t1\t[]", "CHROME 0\tall", "CHROME@w 1", "DRAGWIN", "DRAGWIN@w",
    "RESIZEWIN se", "RESIZEWIN@w n", "CLIPWRITE a\tb\tc\td\te", "CLIPWATCH 100", "DRAGOUT i\tp", "DRAGOUT@w i\tp",
    "KEYSTROKE k c", "PERMCHK p k", "PERMREQ p k", "SHELL s o\ta", "LOGIN l set 1", "POWER p on\t1\tr", "SOUND s n",
    "SHARE 1\t2\tt\tu\tf", "SHARE@w 1", "NOWPLAYING {}", "NOWPLAYING", "SAY s t\tv\t1", "RECORD r start 1\tp",
    "RECORD r stop", "WINCTRL w 1\t2\t3\t4\t5", "SAYSTOP", "VOICES v", "PICKCOLOR c", "OCR o p", "THUMB t p\t1",
    "SECRET s get\ta\tb\tc", "AUTH a r", "OSA o s", "QUICKLOOK a\tb", "CAPTURE c 1", "BADGE b", "ATTENTION 1",
    "PROGRESS 0.5", "PDF p /x", "PDF@w p /x", "APPICON /a", "COOKIES c get", "SPOTLIGHT s q", "AI gen a p\ti\tt",
    "AITOOLRESULT 1 v", "PRINT", "PRINT@w", "RELOAD", "QUIT",
    // Blank and empty fields.
    "RET q1  ", "RET q1  \r", "RET   ", "RET q1 \t x", "WINOPEN \t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t", "WINOPEN ",
    "SIZE@ ", "SIZE  ", "CHROME@ ", "CHROME ", "DRAGOUT@ \t", "DRAGOUT \t\t", "MENUUPD@ ", "MENUUPD ", "HKREG  \t",
    "AI   ", "AI gen  ", "PDF@  ", "PDF  ", "SUB ", "SUB \t", "ITEM \t\t\t", "TRAYBEGIN \t\t\t\t", "GET  ",
    "NOTIFY \t\t\t\t\t", "SHARE@ \t", "AITOOLRESULT  ", "WINCTRL  \t\t\t\t", "AUDIOTAP  \t\t"};

std::string mutate(std::mt19937_64& rng, std::string s) {
  static const char kSpecial[] = " \t@\\\r\n0123456789-+.,:{}\"";
  int edits = int(rng() % 5);
  for (int e = 0; e < edits; ++e) {
    size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 7) {
      case 0: s.resize(pos); break;  // truncate
      case 1: s.insert(pos, 1, kSpecial[rng() % (sizeof kSpecial - 1)]); break;
      case 2: s.insert(pos, 1, char(rng() % 256)); break;
      case 3:
        if (pos < s.size()) s.erase(pos, 1);
        break;
      case 4: s.insert(pos, std::string(rng() % 64, char('a' + rng() % 26))); break;
      case 5: s += kSeeds[rng() % (sizeof kSeeds / sizeof *kSeeds)]; break;
      case 6:
        if (pos < s.size()) s[pos] = kSpecial[rng() % (sizeof kSpecial - 1)];
        break;
    }
  }
  return s;
}

class ReaderRobustness : public FakeDesktopTest {};

TEST_F(ReaderRobustness, MillionsOfMutatedLinesNeitherCrashNorLeak) {
  const char* env = std::getenv("QUIBEX_FUZZ_LINES");
  const long total = env ? std::atol(env) : 300000;
  std::mt19937_64 rng(20261207);
  CommandReader reader;
  std::string chunk;
  long lines = 0, handed_total = 0;
  testing::internal::CaptureStderr();  // the depth limit says so once per menu
  while (lines < total) {
    chunk.clear();
    for (int i = 0; i < 64 && lines < total; ++i, ++lines) {
      if (rng() % 20000 == 0) {
        // Deep nesting: a run of SUBs (inside or outside a builder, as it falls).
        const int depth = int(500 + rng() % 5000);
        for (int k = 0; k < depth; ++k) chunk += (rng() % 64 == 0) ? "ITEM i\n" : "SUB s\n";
        lines += depth;
      }
      const char* seed = kSeeds[rng() % (sizeof kSeeds / sizeof *kSeeds)];
      chunk += (rng() % 4 == 0) ? std::string(seed) : mutate(rng, seed);
      chunk += '\n';
    }
    // Random read sizes, as a socket would deliver them.
    size_t off = 0;
    while (off < chunk.size()) {
      size_t n = std::min<size_t>(chunk.size() - off, 1 + rng() % 4096);
      reader.feed(chunk.data() + off, n);
      off += n;
    }
    handed_total += long(desktop.queue.drain());
  }
  reader.feed("\n", 1);
  handed_total += long(desktop.queue.drain());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(reader.buffered(), 0u);
  // A quarter of the lines are unmutated commands; most of those are handed over.
  EXPECT_GT(handed_total, total / 8);
}

}  // namespace
