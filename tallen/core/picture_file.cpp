#include "core/picture_file.h"

#include "core/regular_file.h"
#include "core/size_text.h"

#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace tallen {
namespace {

// Enough for every header but a JPEG's behind large metadata segments, which read on.
constexpr std::size_t kFirstHeaderRead = 64 * 1024;
constexpr std::size_t kMaxHeaderBytes = 16 * 1024 * 1024;
// The decoder takes the encoded bytes as one row of a matrix.
constexpr std::size_t kMaxFileBytes = INT_MAX;
constexpr long long kPixelsPerMegapixel = 1'000'000;
// Keeps a raised limit far from overflowing a pixel count.
constexpr long long kMaxMegapixelsSetting = 1'000'000;

constexpr char kAcceptedFormats[] = "the accepted formats are JPEG, PNG, BMP and PNM";

const uchar kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kPngHeaderEnd = 24;  // signature, IHDR length and type, width, height

constexpr uchar kMarker = 0xFF;
constexpr uchar kStartOfImage = 0xD8;
constexpr uchar kEndOfImage = 0xD9;
constexpr uchar kStartOfScan = 0xDA;
constexpr uchar kStuffedZero = 0x00;
constexpr uchar kTemporary = 0x01;
constexpr uchar kFirstRestart = 0xD0;
constexpr uchar kLastRestart = 0xD7;

constexpr std::size_t kBmpFileHeader = 14;
constexpr std::uint32_t kBmpCoreHeader = 12;

std::uint32_t bigEndian32(const uchar* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         p[3];
}
unsigned bigEndian16(const uchar* p) { return (unsigned(p[0]) << 8) | p[1]; }
std::uint32_t littleEndian32(const uchar* p) {
  return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) |
         p[0];
}
unsigned littleEndian16(const uchar* p) { return (unsigned(p[1]) << 8) | p[0]; }

bool startsWith(const uchar* bytes, std::size_t count, const uchar* prefix, std::size_t length) {
  return count >= length && std::memcmp(bytes, prefix, length) == 0;
}

[[noreturn]] void damaged(const std::string& path, const std::string& what) {
  throw PictureError(path, "damaged picture header (" + what + ")");
}

cv::Size checkedSize(const std::string& path, long long width, long long height) {
  if (width < 1 || height < 1 || width > INT_MAX || height > INT_MAX) {
    damaged(path, "it declares a size of " + std::to_string(width) + "x" + std::to_string(height));
  }
  return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

bool isStartOfFrame(uchar marker) {
  // SOF0-SOF15 without DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool parseJpeg(const std::string& path, const uchar* b, std::size_t n, PictureHeader& header) {
  std::size_t pos = 2;
  for (;;) {
    // Fill bytes may precede a marker.
    const std::size_t start = pos;
    while (pos < n && b[pos] == kMarker) ++pos;
    if (pos >= n) return false;
    if (pos == start) damaged(path, "no JPEG marker where one belongs");
    const uchar marker = b[pos++];
    if (marker == kTemporary || (marker >= kFirstRestart && marker <= kLastRestart)) continue;
    if (marker == kEndOfImage || marker == kStartOfScan || marker == kStartOfImage) {
      damaged(path, "no JPEG frame header before the image data");
    }
    if (pos + 2 > n) return false;
    const std::size_t length = bigEndian16(b + pos);
    if (length < 2) damaged(path, "a JPEG segment shorter than its length field");
    if (isStartOfFrame(marker)) {
      constexpr std::size_t kFrameFields = 8;  // length, precision, height, width, components
      if (length < kFrameFields) damaged(path, "a JPEG frame header too short");
      if (pos + kFrameFields > n) return false;
      header.format = PictureFormat::kJpeg;
      header.size = checkedSize(path, bigEndian16(b + pos + 5), bigEndian16(b + pos + 3));
      return true;
    }
    pos += length;
  }
}

bool parsePng(const std::string& path, const uchar* b, std::size_t n, PictureHeader& header) {
  if (n < kPngHeaderEnd) return false;
  if (bigEndian32(b + 8) != 13 || std::memcmp(b + 12, "IHDR", 4) != 0) {
    damaged(path, "the PNG does not start with its IHDR chunk");
  }
  header.format = PictureFormat::kPng;
  header.size = checkedSize(path, bigEndian32(b + 16), bigEndian32(b + 20));
  return true;
}

bool parseBmp(const std::string& path, const uchar* b, std::size_t n, PictureHeader& header) {
  if (n < kBmpFileHeader + 4) return false;
  const std::uint32_t infoSize = littleEndian32(b + kBmpFileHeader);
  long long width = 0;
  long long height = 0;
  if (infoSize == kBmpCoreHeader) {
    if (n < kBmpFileHeader + 8) return false;
    width = littleEndian16(b + 18);
    height = littleEndian16(b + 20);
  } else if (infoSize >= 16) {
    if (n < kBmpFileHeader + 12) return false;
    width = static_cast<std::int32_t>(littleEndian32(b + 18));
    // Negative: the rows are stored top-down.
    height = static_cast<std::int32_t>(littleEndian32(b + 22));
    if (height < 0) height = -height;
  } else {
    damaged(path, "a BMP info header of " + std::to_string(infoSize) + " bytes");
  }
  header.format = PictureFormat::kBmp;
  header.size = checkedSize(path, width, height);
  return true;
}

// The netpbm family: P1-P6 and PF/Pf give "width height" after the magic, P7 (PAM) names them.
class PnmTokens {
 public:
  PnmTokens(const uchar* b, std::size_t n) : b_(b), n_(n) {}

  // The next token, or false at the end of the bytes (a token may be cut there).
  bool next(std::string& token) {
    for (;;) {
      while (pos_ < n_ && std::isspace(b_[pos_])) ++pos_;
      if (pos_ < n_ && b_[pos_] == '#') {
        while (pos_ < n_ && b_[pos_] != '\n' && b_[pos_] != '\r') ++pos_;
        continue;
      }
      break;
    }
    const std::size_t start = pos_;
    while (pos_ < n_ && !std::isspace(b_[pos_]) && b_[pos_] != '#') ++pos_;
    if (pos_ >= n_) return false;  // the token may go on in the bytes not yet read
    token.assign(reinterpret_cast<const char*>(b_ + start), pos_ - start);
    return true;
  }

 private:
  const uchar* b_;
  std::size_t n_;
  std::size_t pos_ = 2;
};

long long pnmNumber(const std::string& path, const std::string& token) {
  if (token.empty() || token.size() > 10 ||
      token.find_first_not_of("0123456789") != std::string::npos) {
    damaged(path, "'" + token.substr(0, 20) + "' where a PNM size belongs");
  }
  return std::stoll(token);
}

bool parsePnm(const std::string& path, const uchar* b, std::size_t n, PictureHeader& header) {
  PnmTokens tokens(b, n);
  std::string token;
  long long width = -1;
  long long height = -1;
  if (b[1] == '7') {
    constexpr int kMaxPamLines = 64;
    for (int i = 0; i < kMaxPamLines && (width < 0 || height < 0); ++i) {
      if (!tokens.next(token)) return false;
      if (token == "ENDHDR") break;
      if (token == "WIDTH" || token == "HEIGHT") {
        std::string value;
        if (!tokens.next(value)) return false;
        (token == "WIDTH" ? width : height) = pnmNumber(path, value);
      }
    }
  } else {
    if (!tokens.next(token)) return false;
    width = pnmNumber(path, token);
    if (!tokens.next(token)) return false;
    height = pnmNumber(path, token);
  }
  header.format = PictureFormat::kPnm;
  header.size = checkedSize(path, width, height);
  return true;
}

bool isPnm(const uchar* b, std::size_t n) {
  return n >= 2 && b[0] == 'P' && ((b[1] >= '1' && b[1] <= '7') || b[1] == 'F' || b[1] == 'f');
}

// Reads the rest of the descriptor's file into `bytes` after the `count` already there.
void readRest(const std::string& path, int fd, std::vector<uchar>& bytes, std::size_t count,
              std::size_t limit) {
  bytes.resize(limit);
  while (count < limit) {
    const ssize_t got = ::read(fd, bytes.data() + count, limit - count);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw PictureError(path, std::string("cannot be read (") + std::strerror(errno) + ")");
    }
    if (got == 0) break;
    count += static_cast<std::size_t>(got);
  }
  bytes.resize(count);
}

// The whole file, and its header checked before anything else is read.
struct LoadedBytes {
  std::vector<uchar>& bytes;
  PictureHeader header{};
};

// Kept from one picture to the next, so that a batch does not fault in fresh pages for every
// file; one per thread, so that parallel loads share nothing.
std::vector<uchar>& reusedBuffer() {
  thread_local std::vector<uchar> buffer;
  return buffer;
}

// Larger buffers are given back after use rather than kept for the rest of the process.
constexpr std::size_t kMaxKeptBuffer = 64 * 1024 * 1024;

void releaseIfLarge(std::vector<uchar>& buffer) {
  if (buffer.capacity() > kMaxKeptBuffer) std::vector<uchar>().swap(buffer);
}

LoadedBytes loadBytes(const std::string& path, bool whole, const PictureHeaderCheck& check) {
  RegularFile file(path);
  if (!file.isOpen()) throw PictureError(path, file.problem());
  LoadedBytes loaded{reusedBuffer()};
  loaded.bytes.clear();
  struct stat status {};
  const std::size_t fileSize =
      ::fstat(file.fd(), &status) == 0 ? static_cast<std::size_t>(status.st_size) : 0;
  std::size_t wanted = kFirstHeaderRead;
  for (;;) {
    const std::size_t had = loaded.bytes.size();
    readRest(path, file.fd(), loaded.bytes, had, wanted);
    const bool atEnd = loaded.bytes.size() < wanted;
    PictureHeader header{};
    if (parsePictureHeader(path, loaded.bytes.data(), loaded.bytes.size(), header)) {
      loaded.header = header;
      break;
    }
    if (atEnd) throw PictureError(path, "the picture header is cut short");
    if (wanted >= kMaxHeaderBytes) damaged(path, "no picture size in its first 16 MiB");
    wanted *= 2;
  }
  if (check) check(loaded.header);
  if (whole) {
    // One read of the size the file has, then on in case it grew.
    std::size_t wanted = fileSize + 1;
    for (;;) {
      const std::size_t had = loaded.bytes.size();
      if (wanted <= had) wanted = had * 2;
      if (wanted > kMaxFileBytes) throw PictureError(path, "the file is too large");
      readRest(path, file.fd(), loaded.bytes, had, wanted);
      if (loaded.bytes.size() < wanted) break;
      wanted = loaded.bytes.size() * 2;
    }
  }
  return loaded;
}

}  // namespace

bool parsePictureHeader(const std::string& path, const uchar* bytes, std::size_t count,
                        PictureHeader& header) {
  const uchar jpegStart[] = {kMarker, kStartOfImage, kMarker};
  if (startsWith(bytes, count, jpegStart, sizeof jpegStart)) {
    return parseJpeg(path, bytes, count, header);
  }
  if (startsWith(bytes, count, kPngSignature, sizeof kPngSignature)) {
    return parsePng(path, bytes, count, header);
  }
  const uchar bmpStart[] = {'B', 'M'};
  if (startsWith(bytes, count, bmpStart, sizeof bmpStart)) {
    return parseBmp(path, bytes, count, header);
  }
  if (isPnm(bytes, count)) return parsePnm(path, bytes, count, header);
  // Too short to tell: a longer read may still reveal a known signature.
  const auto beginsOne = [bytes, count](const uchar* signature, std::size_t length) {
    return count < length && std::memcmp(bytes, signature, count) == 0;
  };
  const uchar pnmStart[] = {'P'};
  if (beginsOne(jpegStart, sizeof jpegStart) || beginsOne(kPngSignature, sizeof kPngSignature) ||
      beginsOne(bmpStart, sizeof bmpStart) || beginsOne(pnmStart, 2)) {
    return false;
  }
  throw PictureError(path,
                     std::string("not a picture that can be decoded (") + kAcceptedFormats + ")");
}

PictureHeader readPictureHeader(const std::string& path) {
  try {
    const PictureHeader header = loadBytes(path, false, nullptr).header;
    releaseIfLarge(reusedBuffer());
    return header;
  } catch (const PictureError& e) {
    releaseIfLarge(reusedBuffer());
    // A format OpenCV reads but whose size is not checked here gets a message of its own.
    if (e.reason().rfind("not a picture", 0) == 0 && cv::haveImageReader(path)) {
      throw PictureError(path, std::string("a picture format whose size cannot be checked before "
                                           "decoding (") +
                                   kAcceptedFormats + ")");
    }
    throw;
  }
}

long long maxPicturePixels() {
  const char* setting = std::getenv(kMaxMegapixelsVariable);
  if (setting == nullptr || *setting == '\0') return kDefaultMaxPicturePixels;
  char* end = nullptr;
  errno = 0;
  const long long megapixels = std::strtoll(setting, &end, 10);
  if (errno != 0 || *end != '\0' || megapixels < 1 || megapixels > kMaxMegapixelsSetting ||
      !std::isdigit(static_cast<uchar>(setting[0]))) {
    throw InspectionError(std::string(kMaxMegapixelsVariable) + "='" + setting +
                          "' is not a whole number of megapixels from 1 to " +
                          std::to_string(kMaxMegapixelsSetting));
  }
  return megapixels * kPixelsPerMegapixel;
}

void requirePixelLimit(const std::string& path, cv::Size size) {
  const long long limit = maxPicturePixels();
  const long long pixels = static_cast<long long>(size.width) * size.height;
  if (pixels <= limit) return;
  char text[160];
  std::snprintf(text, sizeof text,
                "the picture declares %s pixels (%.1f megapixels), more than the limit of %g "
                "megapixels (%s raises it)",
                sizeText(size).c_str(), static_cast<double>(pixels) / kPixelsPerMegapixel,
                static_cast<double>(limit) / kPixelsPerMegapixel, kMaxMegapixelsVariable);
  throw PictureError(path, text);
}

bool isCompleteJpeg(const uchar* b, std::size_t n) {
  if (n < 2 || b[0] != kMarker || b[1] != kStartOfImage) return false;
  std::size_t pos = 2;
  while (pos < n) {
    // Skips to the next marker as the decoder does, fill bytes included.
    const void* found = std::memchr(b + pos, kMarker, n - pos);
    if (found == nullptr) return false;
    pos = static_cast<const uchar*>(found) - b;
    while (pos < n && b[pos] == kMarker) ++pos;
    if (pos >= n) return false;
    const uchar marker = b[pos++];
    if (marker == kEndOfImage) return true;
    if (marker == kStuffedZero || marker == kTemporary ||
        (marker >= kFirstRestart && marker <= kLastRestart) || marker == kStartOfImage) {
      continue;
    }
    if (pos + 2 > n) return false;
    const std::size_t length = bigEndian16(b + pos);
    if (length < 2 || pos + length > n) return false;
    pos += length;
    if (marker != kStartOfScan) continue;
    // Entropy-coded data runs to the next marker other than a stuffed zero or a restart.
    for (;;) {
      const void* next = std::memchr(b + pos, kMarker, n - pos);
      if (next == nullptr) return false;
      pos = static_cast<const uchar*>(next) - b;
      std::size_t after = pos + 1;
      while (after < n && b[after] == kMarker) ++after;
      if (after >= n) return false;
      const uchar code = b[after];
      if (code == kStuffedZero || (code >= kFirstRestart && code <= kLastRestart)) {
        pos = after + 1;
        continue;
      }
      break;
    }
  }
  return false;
}

cv::Mat readPicture(const std::string& path, int flags, const PictureHeaderCheck& check) {
  struct Release {
    ~Release() { releaseIfLarge(reusedBuffer()); }
  } release;
  LoadedBytes loaded = loadBytes(path, true, check);
  if (loaded.header.format == PictureFormat::kJpeg &&
      !isCompleteJpeg(loaded.bytes.data(), loaded.bytes.size())) {
    throw PictureError(path, "the JPEG data is incomplete (the file is cut short)");
  }
  cv::Mat picture;
  try {
    const cv::Mat encoded(1, static_cast<int>(loaded.bytes.size()), CV_8UC1, loaded.bytes.data());
    picture = cv::imdecode(encoded, flags);
  } catch (const cv::Exception& e) {
    throw PictureError(path, "the image library refused it (" + e.err + ")");
  }
  if (picture.empty()) throw PictureError(path, "not a picture that can be decoded");
  return picture;
}

cv::Mat readPicture(const std::string& path, int flags) {
  return readPicture(
      path, flags, [&path](const PictureHeader& header) { requirePixelLimit(path, header.size); });
}

}  // namespace tallen
