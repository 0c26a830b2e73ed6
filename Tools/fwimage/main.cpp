// fwimage: makes a firmware image file (40-byte header and payload) and prints the header of one.
//
//   fwimage make -t TYPE -r MAJOR.MINOR -c CHIP [-i ISP] [-V HEADERVER] PAYLOAD OUTPUT
//   fwimage make -t TYPE -r MAJOR.MINOR -c CHIP -g SIZE[:SEED] OUTPUT
//   fwimage show FILE
//
// TYPE is a device type code or name (1 "VeltoE", 2 "VeltoI", ...), CHIP a chip code or part
// number (1 "EP4CGX15BF14C6N", 2 "LCMXO2-4000HC-4MG132C", 3 "ATSAMD20J18A"). The ISP text
// defaults to the chip's part number; the engine accepts an image only when the two agree.
// -g makes a payload of SIZE bytes from a seeded generator instead of reading one.
//
// Exit status: 0 done; 1 refused (an image the plug-in could not flash), or a file that cannot be
// read or written; 2 a usage error (the bad argument named); 3 show: the file has no valid header
// or its chip and ISP text disagree.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fwheader.h"
#include "tal/cli.h"

namespace {

bool parseNumber(const std::string &text, unsigned long max, unsigned long &out) {
  if (text.empty() || text[0] == '-') return false;
  char *end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

// A code from a number or from its table name.
bool parseCode(const std::string &text, const char *(*table)(int), int &out) {
  unsigned long n = 0;
  if (parseNumber(text, 255, n)) {
    out = static_cast<int>(n);
    return true;
  }
  for (int code = 1; code < 256; ++code) {
    if (text == table(code)) {
      out = code;
      return true;
    }
  }
  return false;
}

bool readFile(const std::string &path, std::vector<uint8_t> &out) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The values of "fwimage make", checked by the parser.
struct MakeArgs {
  int type = -1, chip = -1, major = -1, minor = -1, headerVer = 1;
  std::string isp, generate;
  bool haveIsp = false;
  std::vector<std::string> files;
};

int make(MakeArgs m) {
  int type = m.type, chip = m.chip, major = m.major, minor = m.minor, headerVer = m.headerVer;
  std::string isp = m.isp, generate = m.generate;
  const bool haveIsp = m.haveIsp;
  const std::vector<std::string> &files = m.files;
  // Checked here rather than by the parser, so that an unknown argument is the error named first.
  if (type < 0 || chip < 0 || major < 0) {
    std::fprintf(stderr,
                 "fwimage make: -t, -r and -c are required\n"
                 "Run 'fwimage make --help' for the usage.\n");
    return tal::cli::kUsageError;
  }
  if (files.size() != (generate.empty() ? 2u : 1u)) {
    std::fprintf(stderr,
                 "fwimage make: give PAYLOAD and OUTPUT, or OUTPUT alone with -g\n"
                 "Run 'fwimage make --help' for the usage.\n");
    return tal::cli::kUsageError;
  }
  if (haveIsp && isp.size() > fwimg::kIspMax) {
    std::fprintf(stderr, "fwimage: ISP text longer than %u bytes\n",
                 static_cast<unsigned>(fwimg::kIspMax));
    return 1;
  }
  // What the plug-in could never flash is not made: an unknown code, an image for one family
  // carrying the other's chip.
  if (std::strcmp(fwimg::deviceTypeText(type), "Invalid") == 0) {
    std::fprintf(stderr,
                 "fwimage: device type %d is not one the plug-in knows (1 VeltoE, 2 VeltoI)\n",
                 type);
    return 1;
  }
  if (std::strcmp(fwimg::chipText(chip), "Invalid") == 0) {
    std::fprintf(stderr, "fwimage: chip code %d is not one the plug-in knows (1 %s, 2 %s, 3 %s)\n",
                 chip, fwimg::chipText(1), fwimg::chipText(2), fwimg::chipText(3));
    return 1;
  }
  const int family = fwimg::familyChip(type);
  if (family != 0 && chip != family) {
    std::fprintf(stderr, "fwimage: a %s image is for chip %s (%d), not %s (%d)\n",
                 fwimg::deviceTypeText(type), fwimg::chipText(family), family,
                 fwimg::chipText(chip), chip);
    return 1;
  }
  if (!haveIsp) isp = fwimg::chipText(chip);

  std::vector<uint8_t> payload;
  if (generate.empty()) {
    if (!readFile(files[0], payload)) {
      std::fprintf(stderr, "fwimage: cannot read %s\n", files[0].c_str());
      return 1;
    }
  } else {
    size_t colon = generate.find(':');
    unsigned long size = 0, seed = 1;
    if (!parseNumber(generate.substr(0, colon), 64ul << 20, size) ||
        (colon != std::string::npos &&
         !parseNumber(generate.substr(colon + 1), 0xFFFFFFFFul, seed))) {
      std::fprintf(stderr, "fwimage: bad -g SIZE[:SEED]\n");
      return 1;
    }
    uint32_t x = static_cast<uint32_t>(seed) * 2654435761u + 1;
    payload.resize(size);
    for (auto &b : payload) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<uint8_t>(x >> 24);
    }
  }

  if (type == 2 && payload.size() > fwimg::kVeltoIPayloadMax) {
    std::fprintf(
        stderr,
        "fwimage: a VeltoI payload of %zu bytes is over the %zu bytes the backplane's CPLD "
        "holds\n",
        payload.size(), fwimg::kVeltoIPayloadMax);
    return 1;
  }

  uint8_t header[fwimg::kHeaderSize];
  fwimg::encodeHeader(header, headerVer, type, major, minor, chip, isp);
  const std::string &out = files.back();
  FILE *f = std::fopen(out.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "fwimage: cannot create %s\n", out.c_str());
    return 1;
  }
  bool ok =
      std::fwrite(header, 1, sizeof header, f) == sizeof header &&
      (payload.empty() || std::fwrite(payload.data(), 1, payload.size(), f) == payload.size());
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::fprintf(stderr, "fwimage: cannot write %s\n", out.c_str());
    return 1;
  }
  std::printf("%s: %s %d.%d, chip %s, ISP \"%s\", payload %zu bytes\n", out.c_str(),
              fwimg::deviceTypeText(type), major, minor, fwimg::chipText(chip), isp.c_str(),
              payload.size());
  return 0;
}

int show(const std::string &path) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes)) {
    std::fprintf(stderr, "fwimage: cannot read %s\n", path.c_str());
    return 1;
  }
  fwimg::Header h;
  fwimg::Decode d = fwimg::decodeHeader(bytes.data(), bytes.size(), bytes.size(), h);
  std::printf("file:        %s (%zu bytes)\n", path.c_str(), bytes.size());
  if (d == fwimg::Decode::kEmpty) {
    std::printf("header:      none (empty file)\n");
    return 3;
  }
  std::printf("headerLen:   %d\n", h.headerLen);
  if (d == fwimg::Decode::kNoHeader) {
    std::printf("header:      none (headerLen %d marks a file without a header)\n", h.headerLen);
    return 3;
  }
  if (d == fwimg::Decode::kTruncated) {
    std::printf("header:      truncated (the file is shorter than its header)\n");
    return 3;
  }
  std::printf("headerVer:   %d\n", h.headerVer);
  std::printf("device type: %d (%s)\n", bytes[fwimg::kOffDeviceType], h.strFwName.c_str());
  std::printf("revision:    %s\n", h.strFwRev.c_str());
  std::printf("chip:        %d (%s)\n", bytes[fwimg::kOffChip], h.strDeviceId.c_str());
  std::printf("ISP text:    \"%s\"\n", h.strIsp.c_str());
  std::printf("payload:     %zu bytes\n", bytes.size() - static_cast<size_t>(h.headerLen));
  const bool agree = h.strDeviceId == h.strIsp;
  std::printf("check:       %s\n", agree ? "chip and ISP text agree"
                                         : "chip and ISP text DISAGREE: the engine refuses it");
  return agree ? 0 : 3;
}

}  // namespace

// A check of one option's value: "" when it is good, else what is wrong (CLI11 names the option).
CLI::Validator check(const char *name, std::function<bool(const std::string &)> ok,
                     const char *what) {
  return CLI::Validator(
      [ok, what](std::string &v) { return ok(v) ? std::string() : std::string(what); }, name);
}

int main(int argc, char **argv) {
  CLI::App app(
      "Makes a firmware image file (a 40-byte header, then the payload) and prints the "
      "header of one.",
      "fwimage");
  app.footer(
      "Exit status: 0 done; 1 refused (an image the plug-in could not flash) or a file "
      "that\ncannot be read or written; 2 a usage error; 3 show: no valid header, or the "
      "chip and\nthe ISP text disagree.");
  tal::cli::addVersion(app);

  MakeArgs m;
  std::string typeText, chipText, revision;
  CLI::App *mk = app.add_subcommand("make", "make an image file");
  mk->add_option("-t", typeText, "device type (required): 1..6 or VeltoE, VeltoI, ...")
      ->check(check(
          "TYPE", [&](const std::string &v) { return parseCode(v, fwimg::deviceTypeText, m.type); },
          "bad device type"));
  mk->add_option("-r", revision, "revision (required): MAJOR.MINOR, each 0 to 255")
      ->check(check(
          "MAJOR.MINOR",
          [&](const std::string &v) {
            unsigned long ma = 0, mi = 0;
            size_t dot = v.find('.');
            if (dot == std::string::npos || !parseNumber(v.substr(0, dot), 255, ma) ||
                !parseNumber(v.substr(dot + 1), 255, mi)) {
              return false;
            }
            m.major = static_cast<int>(ma);
            m.minor = static_cast<int>(mi);
            return true;
          },
          "bad revision (MAJOR.MINOR, each 0 to 255)"));
  mk->add_option("-c", chipText, "chip (required): 1..3 or a part number")
      ->check(check(
          "CHIP", [&](const std::string &v) { return parseCode(v, fwimg::chipText, m.chip); },
          "bad chip code"));
  mk->add_option("-i", m.isp, "ISP text (default: the chip's part number)");
  mk->add_option("-V", m.headerVer, "header version (default 1)")->check(CLI::Range(0, 255));
  mk->add_option("-g", m.generate,
                 "SIZE[:SEED]: a payload of SIZE bytes from a seeded generator, instead of "
                 "reading PAYLOAD");
  mk->add_option("files", m.files, "PAYLOAD OUTPUT, or OUTPUT alone with -g")->expected(1, 2);

  std::string showFile;
  CLI::App *sh = app.add_subcommand("show", "print the header of an image file");
  sh->add_option("file", showFile, "the image file")->required();

  int done = tal::cli::parse(app, argc, argv);
  if (done >= 0) return done;
  if (mk->parsed()) {
    m.haveIsp = mk->count("-i") > 0;
    return make(m);
  }
  if (sh->parsed()) return show(showFile);
  std::fprintf(stderr,
               "fwimage: a command is needed: make or show\nRun 'fwimage --help' for the usage.\n");
  return tal::cli::kUsageError;
}
