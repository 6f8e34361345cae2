// Writes a reproducible web-server-like log in UTF-8 for the scan benchmark: client
// addresses, dates, request lines, status codes, and some words beyond ASCII.
//
//   make_scan_log OUTPUT [MEGABYTES]   (default 40)
//
// The same arguments always give the same bytes: the generator owns its random numbers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// splitmix64: tiny, fast and the same everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned bound) { return static_cast<unsigned>(Next() % bound); }

 private:
  std::uint64_t state_;
};

template <std::size_t N>
const char* Pick(Random& random, const char* const (&choices)[N]) {
  return choices[random.Below(N)];
}

constexpr const char* Methods[] = {"GET", "GET", "GET", "POST", "PUT", "DELETE", "HEAD"};
constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* Paths[] = {"index.html",
                                 "catalogue",
                                 "api/v2/items",
                                 "static/app.js",
                                 "images/logo.png",
                                 "search",
                                 "account/settings",
                                 "blog/2023/11/release-notes",
                                 "download/archive.tar.gz"};
constexpr const char* Words[] = {
    "café",         "naïve",     "Straße", "Zoë", "Kraków", "Ærøskøbing", "東京",        "Привет",
    "crème brûlée", "São Paulo", "señor",  "😀",   "Ελλάδα", "日本語",     "smörgåsbord", "façade"};
constexpr const char* Agents[] = {"Mozilla/5.0 (X11; Linux x86_64)", "curl/7.88.1", "Wget/1.21.3",
                                  "Mozilla/5.0 (Windows NT 10.0; Win64; x64)",
                                  "python-requests/2.28.1"};
constexpr const char* Statuses[] = {"200", "200", "200", "301", "304", "404", "500"};

std::string Address(Random& random) {
  return std::to_string(random.Below(223) + 1) + "." + std::to_string(random.Below(256)) + "." +
         std::to_string(random.Below(256)) + "." + std::to_string(random.Below(256));
}

std::string Date(Random& random) {
  char text[64];
  std::snprintf(text, sizeof text, "%02u/%s/%u:%02u:%02u:%02u +0000", random.Below(28) + 1,
                Pick(random, Months), 2019 + random.Below(6), random.Below(24), random.Below(60),
                random.Below(60));
  return text;
}

std::string Request(Random& random) {
  std::string request = std::string(Pick(random, Methods)) + " /" + Pick(random, Paths);
  bool query = random.Below(3) == 0;
  if (query) request += "?q=" + std::string(Pick(random, Words));
  if (random.Below(2) == 0)
    request += (query ? "&id=" : "?id=") + std::to_string(random.Below(100000));
  return request + " HTTP/1.1";
}

std::string Line(Random& random) {
  std::string line = Address(random) + " - - [" + Date(random) + "] \"" + Request(random) + "\" " +
                     Pick(random, Statuses) + " " + std::to_string(random.Below(50000)) + " \"" +
                     Pick(random, Agents) + "\"";
  if (random.Below(4) == 0) {
    line += " note=\"" + std::string(Pick(random, Words)) + " from " + Address(random) + "\"";
  }
  return line + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT [MEGABYTES]\n", argv[0]);
    return 2;
  }
  long megabytes = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 40;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || megabytes <= 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  Random random(20240517);
  const long long target = megabytes * 1000LL * 1000LL;
  long long written = 0;
  while (written < target) {
    std::string line = Line(random);
    if (std::fwrite(line.data(), 1, line.size(), out) != line.size()) break;
    written += static_cast<long long>(line.size());
  }
  bool failed = std::fclose(out) != 0 || written < target;
  if (failed) std::fprintf(stderr, "writing %s failed\n", argv[1]);
  return failed ? 1 : 0;
}
