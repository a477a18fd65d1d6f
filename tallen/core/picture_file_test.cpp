#include "core/picture_file.h"

#include "core/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using testing::ScopedWorkingDirectory;
using Bytes = std::vector<uchar>;

const cv::Size kSize(64, 48);

// A seeded picture with smooth parts and noise, so that every codec has work to do.
cv::Mat testPicture(cv::Size size, int type) {
  cv::setRNGSeed(7);
  cv::Mat noise(size, CV_8UC3);
  cv::randu(noise, 0, 256);
  cv::GaussianBlur(noise, noise, cv::Size(5, 5), 0);
  cv::rectangle(noise, cv::Rect(size.width / 4, size.height / 4, size.width / 2, size.height / 3),
                cv::Scalar(250, 240, 230), cv::FILLED);
  cv::Mat picture;
  if (CV_MAT_CN(type) == 1) {
    cv::cvtColor(noise, picture, cv::COLOR_BGR2GRAY);
  } else {
    picture = noise;
  }
  if (CV_MAT_DEPTH(type) == CV_16U) picture.convertTo(picture, CV_16U, 257.0);
  return picture;
}

Bytes encode(const std::string& extension, const cv::Mat& picture,
             const std::vector<int>& params = {}) {
  Bytes bytes;
  EXPECT_TRUE(cv::imencode(extension, picture, bytes, params)) << extension;
  return bytes;
}

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes shipped(const std::string& name) {
  std::ifstream in(std::string(KIT_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A JPEG with an Exif segment that sets `orientation` (1 to 8), right after its start marker.
Bytes withOrientation(Bytes jpeg, uint16_t orientation) {
  const Bytes exif = {0xFF,
                      0xE1,
                      0x00,
                      0x22,
                      'E',
                      'x',
                      'i',
                      'f',
                      0,
                      0,  // APP1, length 34
                      'I',
                      'I',
                      0x2A,
                      0x00,
                      0x08,
                      0x00,
                      0x00,
                      0x00,  // TIFF header
                      0x01,
                      0x00,  // one entry
                      0x12,
                      0x01,
                      0x03,
                      0x00,
                      0x01,
                      0x00,
                      0x00,
                      0x00,  // orientation, SHORT
                      static_cast<uchar>(orientation),
                      0x00,
                      0x00,
                      0x00,  // its value
                      0x00,
                      0x00,
                      0x00,
                      0x00};  // no next IFD
  jpeg.insert(jpeg.begin() + 2, exif.begin(), exif.end());
  return jpeg;
}

// A JPEG whose frame header comes after `padding` bytes of application segments.
Bytes withLargeMetadata(Bytes jpeg, std::size_t padding) {
  Bytes segments;
  constexpr std::size_t kSegment = 60000;
  for (std::size_t done = 0; done < padding; done += kSegment) {
    segments.insert(segments.end(), {0xFF, 0xE2, kSegment >> 8, kSegment & 0xFF});
    segments.insert(segments.end(), kSegment - 2, 'x');
  }
  jpeg.insert(jpeg.begin() + 2, segments.begin(), segments.end());
  return jpeg;
}

std::string reasonOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const PictureError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("p.bin: ", 0), 0u) << e.what();
    return e.reason();
  }
  return "<no error>";
}

class ScopedVariable {
 public:
  explicit ScopedVariable(const char* value) {
    if (value == nullptr) {
      unsetenv(kMaxMegapixelsVariable);
    } else {
      setenv(kMaxMegapixelsVariable, value, 1);
    }
  }
  ~ScopedVariable() { unsetenv(kMaxMegapixelsVariable); }
};

struct DecodeCase {
  std::string name;
  std::function<Bytes()> bytes;
  int flags;
  friend void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }
};

constexpr int kWorkingFlags = cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR;

class CompletePicture : public ::testing::TestWithParam<DecodeCase> {};

// A complete file decodes bit for bit as cv::imread decodes it, and its header gives the size
// that the decoder finds.
TEST_P(CompletePicture, DecodesAsImreadAndDeclaresItsSize) {
  const DecodeCase& c = GetParam();
  ScopedWorkingDirectory dir;
  writeBytes("p.bin", c.bytes());
  const cv::Mat expected = cv::imread("p.bin", c.flags);
  ASSERT_FALSE(expected.empty());
  const cv::Mat decoded = readPicture("p.bin", c.flags);
  ASSERT_EQ(decoded.size(), expected.size());
  ASSERT_EQ(decoded.type(), expected.type());
  EXPECT_EQ(cv::norm(decoded, expected, cv::NORM_INF), 0.0);

  const cv::Size declared = readPictureHeader("p.bin").size;
  EXPECT_TRUE(declared == expected.size() ||
              declared == cv::Size(expected.rows, expected.cols))  // turned by its Exif tag
      << declared;
}

const std::vector<DecodeCase> kDecodeCases = {
    {"jpegColour", [] { return encode(".jpg", testPicture(kSize, CV_8UC3)); }, cv::IMREAD_COLOR},
    {"jpegColourAsWorkingFile", [] { return encode(".jpg", testPicture(kSize, CV_8UC3)); },
     kWorkingFlags},
    {"jpegGrayAsColour", [] { return encode(".jpg", testPicture(kSize, CV_8UC1)); },
     cv::IMREAD_COLOR},
    {"jpegGrayAsWorkingFile", [] { return encode(".jpg", testPicture(kSize, CV_8UC1)); },
     kWorkingFlags},
    {"jpegProgressive",
     [] {
       return encode(".jpg", testPicture(kSize, CV_8UC3), {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
     },
     cv::IMREAD_COLOR},
    {"jpegRestartIntervals",
     [] {
       return encode(".jpg", testPicture(kSize, CV_8UC3), {cv::IMWRITE_JPEG_RST_INTERVAL, 1});
     },
     cv::IMREAD_COLOR},
    {"jpegTurnedByExif",
     [] { return withOrientation(encode(".jpg", testPicture(kSize, CV_8UC3)), 6); },
     cv::IMREAD_COLOR},
    {"jpegMirroredByExifAsWorkingFile",
     [] { return withOrientation(encode(".jpg", testPicture(kSize, CV_8UC3)), 2); }, kWorkingFlags},
    {"jpegBytesAfterTheEnd",
     [] {
       Bytes b = encode(".jpg", testPicture(kSize, CV_8UC3));
       b.insert(b.end(), {0x00, 0x12, 0xFF});
       return b;
     },
     cv::IMREAD_COLOR},
    {"jpegFrameBehindLargeMetadata",
     [] { return withLargeMetadata(encode(".jpg", testPicture(kSize, CV_8UC3)), 200000); },
     cv::IMREAD_COLOR},
    {"jpegCmyk", [] { return shipped("cmyk.jpg"); }, cv::IMREAD_COLOR},
    {"jpegYcckAsWorkingFile", [] { return shipped("ycck.jpg"); }, kWorkingFlags},
    {"pngColour", [] { return encode(".png", testPicture(kSize, CV_8UC3)); }, cv::IMREAD_COLOR},
    {"png16BitGrayAsWorkingFile", [] { return encode(".png", testPicture(kSize, CV_16UC1)); },
     kWorkingFlags},
    {"bmp", [] { return encode(".bmp", testPicture(kSize, CV_8UC3)); }, cv::IMREAD_COLOR},
    {"bmpGray", [] { return encode(".bmp", testPicture(kSize, CV_8UC1)); }, cv::IMREAD_COLOR},
    {"ppm", [] { return encode(".ppm", testPicture(kSize, CV_8UC3)); }, cv::IMREAD_COLOR},
    {"pgmAscii",
     [] {
       return encode(".pgm", testPicture(kSize, CV_8UC1), {cv::IMWRITE_PXM_BINARY, 0});
     },
     cv::IMREAD_COLOR},
    {"pam", [] { return encode(".pam", testPicture(kSize, CV_8UC3)); }, cv::IMREAD_COLOR},
    {"pbm", [] { return encode(".pbm", testPicture(kSize, CV_8UC1)); }, cv::IMREAD_COLOR},
    {"pfm",
     [] {
       cv::Mat picture;
       testPicture(kSize, CV_8UC3).convertTo(picture, CV_32F, 1.0 / 255);
       return encode(".pfm", picture);
     },
     cv::IMREAD_COLOR},
};

INSTANTIATE_TEST_SUITE_P(Formats, CompletePicture, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return info.param.name; });

struct CutCase {
  std::string name;
  std::function<Bytes()> bytes;
  bool imreadTakesIt;  // the fault: OpenCV returns part of a picture without a word
  friend void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }
};

class CutPicture : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutPicture, IsRefusedNamingTheFile) {
  const CutCase& c = GetParam();
  ScopedWorkingDirectory dir;
  writeBytes("p.bin", c.bytes());
  EXPECT_EQ(!cv::imread("p.bin", cv::IMREAD_COLOR).empty(), c.imreadTakesIt);
  for (int flags : {static_cast<int>(cv::IMREAD_COLOR), kWorkingFlags}) {
    EXPECT_NE(reasonOf([flags] { readPicture("p.bin", flags); }), "<no error>");
  }
}

Bytes cut(Bytes bytes, std::size_t length) {
  bytes.resize(length);
  return bytes;
}

// Large enough that a cut at 2000 bytes falls inside the image data.
cv::Mat photo() { return testPicture(cv::Size(320, 240), CV_8UC3); }

const std::vector<CutCase> kCutCases = {
    {"jpegAt2000Bytes", [] { return cut(encode(".jpg", photo()), 2000); }, true},
    {"jpegAtHalf",
     [] {
       const Bytes b = encode(".jpg", photo());
       return cut(b, b.size() / 2);
     },
     true},
    {"jpegWithoutItsEndMarker",
     [] {
       const Bytes b = encode(".jpg", photo());
       return cut(b, b.size() - 2);
     },
     true},
    {"progressiveJpegAtHalf",
     [] {
       const Bytes b = encode(".jpg", photo(), {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
       return cut(b, b.size() / 2);
     },
     true},
    {"jpegInItsHeader", [] { return cut(encode(".jpg", photo()), 300); }, false},
    {"pngAtHalf",
     [] {
       const Bytes b = encode(".png", photo());
       return cut(b, b.size() / 2);
     },
     false},
    {"pngWithoutItsEnd",
     [] {
       const Bytes b = encode(".png", photo());
       return cut(b, b.size() - 12);
     },
     false},
    {"bmpAtHalf",
     [] {
       const Bytes b = encode(".bmp", photo());
       return cut(b, b.size() / 2);
     },
     false},
    {"ppmAtHalf",
     [] {
       const Bytes b = encode(".ppm", photo());
       return cut(b, b.size() / 2);
     },
     false},
};

INSTANTIATE_TEST_SUITE_P(Formats, CutPicture, ::testing::ValuesIn(kCutCases),
                         [](const auto& info) { return info.param.name; });

TEST(PictureFile, EveryCutOfAJpegIsRefusedAndNeverMisread) {
  const Bytes whole = encode(".jpg", testPicture(kSize, CV_8UC3));
  PictureHeader header{};
  for (std::size_t length = 0; length < whole.size(); ++length) {
    EXPECT_FALSE(isCompleteJpeg(whole.data(), length)) << length;
    try {
      if (parsePictureHeader("p.bin", whole.data(), length, header)) {
        EXPECT_EQ(header.size, kSize) << length;
      }
    } catch (const PictureError& e) {
      ADD_FAILURE() << length << ": " << e.what();
    }
  }
  EXPECT_TRUE(isCompleteJpeg(whole.data(), whole.size()));
}

// Files of a few hundred bytes that declare huge pictures.
struct BombCase {
  std::string name;
  Bytes bytes;
  friend void PrintTo(const BombCase& c, std::ostream* os) { *os << c.name; }
};

uint32_t crc32(const uchar* data, std::size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A 1x1 PNG whose IHDR (with a valid checksum) declares another size.
Bytes pngDeclaring(uint32_t width, uint32_t height) {
  Bytes b = encode(".png", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(0)));
  for (int i = 0; i < 4; ++i) {
    b[16 + i] = static_cast<uchar>(width >> (24 - 8 * i));
    b[20 + i] = static_cast<uchar>(height >> (24 - 8 * i));
  }
  const uint32_t crc = crc32(b.data() + 12, 17);  // chunk type and data
  for (int i = 0; i < 4; ++i) b[29 + i] = static_cast<uchar>(crc >> (24 - 8 * i));
  return b;
}

Bytes jpegDeclaring(uint16_t width, uint16_t height) {
  Bytes b = encode(".jpg", cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(0)));
  for (std::size_t i = 2; i + 9 < b.size(); ++i) {
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      b[i + 5] = height >> 8;
      b[i + 6] = height & 0xFF;
      b[i + 7] = width >> 8;
      b[i + 8] = width & 0xFF;
      break;
    }
  }
  return b;
}

Bytes bmpDeclaring(int32_t width, int32_t height) {
  Bytes b = encode(".bmp", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(0)));
  for (int i = 0; i < 4; ++i) {
    b[18 + i] = static_cast<uchar>(static_cast<uint32_t>(width) >> (8 * i));
    b[22 + i] = static_cast<uchar>(static_cast<uint32_t>(height) >> (8 * i));
  }
  return b;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class DeclaredBomb : public ::testing::TestWithParam<BombCase> {};

TEST_P(DeclaredBomb, IsRefusedFromItsHeaderWithBothSizes) {
  const BombCase& c = GetParam();
  ScopedWorkingDirectory dir;
  writeBytes("p.bin", c.bytes);
  const ScopedVariable unset(nullptr);
  EXPECT_EQ(readPictureHeader("p.bin").size, cv::Size(16000, 16000));
  const std::string reason = reasonOf([] { readPicture("p.bin", cv::IMREAD_COLOR); });
  EXPECT_NE(reason.find("16000x16000"), std::string::npos) << reason;
  EXPECT_NE(reason.find("limit of 100 megapixels"), std::string::npos) << reason;
  EXPECT_NE(reason.find(kMaxMegapixelsVariable), std::string::npos) << reason;

  // Raised, the header passes, and the decoder meets the missing data.
  const ScopedVariable raised("300");
  const std::string decoded = reasonOf([] { readPicture("p.bin", cv::IMREAD_COLOR); });
  EXPECT_EQ(decoded.find("limit"), std::string::npos) << decoded;
}

INSTANTIATE_TEST_SUITE_P(Formats, DeclaredBomb,
                         ::testing::ValuesIn(std::vector<BombCase>{
                             {"png", pngDeclaring(16000, 16000)},
                             {"jpeg", jpegDeclaring(16000, 16000)},
                             {"bmp", bmpDeclaring(16000, 16000)},
                             {"bmpTopDown", bmpDeclaring(16000, -16000)},
                             {"ppm", text("P6\n# made by hand\n16000 16000\n255\n")},
                             {"pam", text("P7\nWIDTH 16000\nHEIGHT 16000\nDEPTH 3\nMAXVAL "
                                          "255\nTUPLTYPE RGB\nENDHDR\n")},
                         }),
                         [](const auto& info) { return info.param.name; });

TEST(PictureFile, LimitComesFromTheEnvironmentAndABadSettingIsNamed) {
  {
    const ScopedVariable unset(nullptr);
    EXPECT_EQ(maxPicturePixels(), 100'000'000);
  }
  {
    const ScopedVariable set("250");
    EXPECT_EQ(maxPicturePixels(), 250'000'000);
  }
  {
    const ScopedVariable lowered("1");
    ScopedWorkingDirectory dir;
    writeBytes("p.bin", encode(".png", cv::Mat(1001, 1000, CV_8UC3, cv::Scalar::all(0))));
    const std::string reason = reasonOf([] { readPicture("p.bin", cv::IMREAD_COLOR); });
    EXPECT_NE(reason.find("1000x1001"), std::string::npos) << reason;
    EXPECT_NE(reason.find("limit of 1 megapixels"), std::string::npos) << reason;
  }
  for (const char* bad : {"0", "-5", "12MP", "1e3", " 7", "99999999999999999999"}) {
    const ScopedVariable set(bad);
    try {
      maxPicturePixels();
      ADD_FAILURE() << bad;
    } catch (const InspectionError& e) {
      EXPECT_NE(std::string(e.what()).find(kMaxMegapixelsVariable), std::string::npos);
    }
  }
}

// A size over OpenCV's own limits (sides up to 2^20 pixels) is named like any other refusal.
TEST(PictureFile, SizeRefusedByTheImageLibraryNamesTheFile) {
  ScopedWorkingDirectory dir;
  writeBytes("p.bin", bmpDeclaring(2'000'000, 1));
  EXPECT_THROW(cv::imread("p.bin", cv::IMREAD_COLOR), cv::Exception);
  const std::string reason = reasonOf([] { readPicture("p.bin", cv::IMREAD_COLOR); });
  EXPECT_NE(reason.find("image library"), std::string::npos) << reason;
}

struct BadFileCase {
  std::string name;
  std::function<void()> make;  // makes p.bin
  std::string reasonPart;
  friend void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.name; }
};

class BadPictureFile : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(BadPictureFile, IsRefusedByTheHeaderCheckNamingTheFile) {
  const BadFileCase& c = GetParam();
  ScopedWorkingDirectory dir;
  c.make();
  const std::string reason = reasonOf([] { readPictureHeader("p.bin"); });
  EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
  EXPECT_NE(reasonOf([] { readPicture("p.bin", cv::IMREAD_COLOR); }), "<no error>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadPictureFile,
    ::testing::ValuesIn(std::vector<BadFileCase>{
        {"missing", [] {}, "no such file"},
        {"directory", [] { fs::create_directory("p.bin"); }, "directory"},
        {"fifo", [] { ASSERT_EQ(mkfifo("p.bin", 0600), 0); }, "not a regular file"},
        {"linkToDevZero", [] { fs::create_symlink("/dev/zero", "p.bin"); }, "not a regular file"},
        {"empty", [] { writeBytes("p.bin", {}); }, "cut short"},
        {"text", [] { writeBytes("p.bin", text("not a picture at all")); }, "decoded"},
        {"shortText", [] { writeBytes("p.bin", text("hello")); }, "decoded"},
        {"pngSignatureCut", [] { writeBytes("p.bin", cut(pngDeclaring(10, 10), 5)); }, "cut short"},
        {"tiff",
         [] { writeBytes("p.bin", encode(".tiff", cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(1)))); },
         "cannot be checked before decoding"},
        {"pngHeaderCut", [] { writeBytes("p.bin", cut(pngDeclaring(10, 10), 20)); }, "cut short"},
        {"pngZeroWidth", [] { writeBytes("p.bin", pngDeclaring(0, 10)); }, "0x10"},
        {"bmpNegativeWidth", [] { writeBytes("p.bin", bmpDeclaring(-4, 4)); }, "-4x4"},
        {"pnmHugeNumber", [] { writeBytes("p.bin", text("P6 99999999999 4 255\n")); }, "PNM"},
        {"jpegNoFrameHeader",
         [] {
           writeBytes("p.bin", {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0});
         },
         "frame header"},
    }),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tallen
