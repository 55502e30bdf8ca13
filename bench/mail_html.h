// Generated mail HTML and a CPU clock for the benchmarks that read mail:
// every run writes the same bodies, so figures compare across runs.
#ifndef QUILL_BENCH_MAIL_HTML_H_
#define QUILL_BENCH_MAIL_HTML_H_

#include <time.h>

#include <cstdint>
#include <string>

namespace quill {
namespace bench {

// CPU time of the calling thread, in seconds.
inline double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A 64-bit LCG: every run generates the same bodies.
class Random {
 public:
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 33);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t state_ = 20261207;
};

inline void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Writes mail-like HTML: paragraphs, quoted tables and signatures mixing
// Chinese sentences (3,000 distinct ideographs, the common ones far more
// frequent) with English ones.
class MailWriter {
 public:
  // A whole document of at least `bytes` bytes of UTF-8.
  std::string Write(size_t bytes) {
    out_.clear();
    out_ +=
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
        "<title>\xE6\x9C\x88\xE5\xBA\xA6\xE6\x8A\xA5\xE5\x91\x8A</title>"
        "<style type=\"text/css\">p{margin:0 0 8px 0} td{font-size:12px} "
        ".sig{color:#888888}</style></head>\n<body bgcolor=\"#ffffff\" text=\"#000000\">\n";
    while (out_.size() < bytes) Block();
    out_ += "</body></html>\n";
    return out_;
  }

 private:
  void Chinese() {
    const uint32_t n = 8 + random_.Below(24);
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t r = random_.Below(3000);
      AppendUtf8(0x4E00 + (r * r / 3000) * 6, &out_);
    }
    AppendUtf8(random_.Below(3) == 0 ? 0x3002 : 0xFF0C, &out_);
  }
  void Latin() {
    static const char* const kWords[] = {
        "the",     "meeting", "report",  "schedule", "please", "review",  "attached",
        "project", "update",  "team",    "budget",   "next",   "week",    "client",
        "invoice", "thanks",  "regards", "shipment", "order",  "account", "support"};
    const uint32_t n = 5 + random_.Below(12);
    for (uint32_t i = 0; i < n; ++i) {
      if (i > 0) out_ += ' ';
      out_ += kWords[random_.Below(sizeof(kWords) / sizeof(kWords[0]))];
    }
    out_ += ". ";
  }
  void Entity() {
    static const char* const kEntities[] = {"&nbsp;", "&amp;",   "&lt;",      "&gt;",
                                            "&quot;", "&#8212;", "&#x4E2D;", "&copy;"};
    out_ += kEntities[random_.Below(sizeof(kEntities) / sizeof(kEntities[0]))];
  }
  void Sentence() { random_.Below(3) == 0 ? Latin() : Chinese(); }
  // Text with inline markup, as mail editors write it.
  void Inline() {
    const uint32_t pieces = 2 + random_.Below(5);
    for (uint32_t i = 0; i < pieces; ++i) {
      switch (random_.Below(8)) {
        case 0:
          out_ += "<b>";
          Sentence();
          out_ += "</b>";
          break;
        case 1:
          out_ += "<font color=\"#";
          out_ += std::to_string(100000 + random_.Below(899999));
          out_ += "\" size=\"";
          out_ += std::to_string(1 + random_.Below(5));
          out_ += "\" face=\"Arial\">";
          Sentence();
          out_ += "</font>";
          break;
        case 2:
          out_ += "<a href=\"https://mail.example.com/link?id=";
          out_ += std::to_string(random_.Next());
          out_ += "&amp;ref=mail\" target=\"_blank\">";
          Sentence();
          out_ += "</a>";
          break;
        case 3:
          Entity();
          Sentence();
          break;
        case 4:
          out_ += "<br>\n";
          break;
        default:
          Sentence();
          break;
      }
    }
  }
  void Block() {
    switch (random_.Below(10)) {
      case 0:
        out_ += "<table width=\"100%\" cellpadding=\"4\" border=\"0\"><tr><td bgcolor=\"#f0f0f0\">";
        Inline();
        out_ += "</td><td align='right'>";
        Inline();
        out_ += "</td></tr></table>\n";
        break;
      case 1:
        out_ += "<img src=\"cid:image";
        out_ += std::to_string(random_.Below(1000));
        out_ += "@mail.example.com\" width=\"120\" height=\"60\" alt=\"logo\" border=0>\n";
        break;
      case 2:
        out_ += "<!-- quoted part ";
        out_ += std::to_string(random_.Below(100));
        out_ += " --><hr size=\"1\">\n<div class=\"sig\">";
        Inline();
        out_ += "</div>\n";
        break;
      case 3:
        out_ += "<blockquote style=\"border-left:2px solid #ccc;padding-left:6px\">";
        Inline();
        out_ += "</blockquote>\n";
        break;
      default:
        out_ += "<p style=\"margin:0 0 8px 0\"><span lang=\"zh-CN\">";
        Inline();
        Inline();
        out_ += "</span></p>\n";
        break;
    }
  }

  Random random_;
  std::string out_;
};

}  // namespace bench
}  // namespace quill

#endif  // QUILL_BENCH_MAIL_HTML_H_
