// Reading a baseline document with a streaming JSON parser: only the files' paths and
// numbers are kept, never a tree of the whole document.
#include "report/baseline.h"

#include <istream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <streambuf>
#include <utility>

#include "platform/byte_output.h"
#include "platform/last_error.h"

namespace srctally {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kNotWhole = "is not a whole number from 0 to 9223372036854775807";

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

bool FromHex(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

// The SAX reader of the document. It follows where it stands: before the top-level value,
// in the top-level object, in the "files" array, in a file's object; any other value is
// passed over whole (skip_ counts the containers open inside it).
class CBaselineReader {
 public:
  CBaselineReader(char16_t separator, std::vector<FileRecord>& files, std::string& problem)
      : separator_(separator), files_(files), problem_(problem) {}

  bool null() { return Scalar(); }
  bool boolean(bool) { return Scalar(); }
  bool number_integer(Json::number_integer_t value) {
    if (value < 0) return Scalar(Number::kOutOfRange);
    number_ = value;
    return Scalar(Number::kWhole);
  }
  bool number_unsigned(Json::number_unsigned_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return Scalar(Number::kOutOfRange);
    }
    number_ = static_cast<std::int64_t>(value);
    return Scalar(Number::kWhole);
  }
  // A fraction, an exponent, or a whole number too large for 64 bits.
  bool number_float(Json::number_float_t, const Json::string_t&) {
    return Scalar(Number::kOutOfRange);
  }
  bool string(Json::string_t& value) {
    text_ = &value;
    const bool result = Scalar(Number::kNone, true);
    text_ = nullptr;
    return result;
  }
  bool binary(Json::binary_t&) { return Scalar(); }
  bool start_object(std::size_t) { return Open(true); }
  bool start_array(std::size_t) { return Open(false); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(Json::string_t& name) {
    if (skip_ == 0) key_ = name;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    // The parser's words without its "[json.exception.parse_error.101] " tag.
    std::string_view what = error.what();
    const std::size_t tagEnd = what.find("] ");
    if (what.starts_with('[') && tagEnd != std::string_view::npos) what.remove_prefix(tagEnd + 2);
    problem_ = "it is not JSON (";
    problem_ += what;
    problem_ += ')';
    return false;
  }

 private:
  enum class Where : std::uint8_t { kTop, kRoot, kFiles, kFile, kDone };
  enum class Number : std::uint8_t { kNone, kWhole, kOutOfRange };

  bool Fail(std::string_view what) {
    problem_ = what;
    return false;
  }
  bool FailFile(std::string_view what) {
    problem_ = "file " + std::to_string(files_.size() + 1) + " in \"files\" ";
    problem_ += what;
    return false;
  }
  bool FailField(std::string_view what) {
    return FailFile("has a \"" + key_ + "\" that " + std::string(what));
  }

  // The index of key_ among the count fields, or -1.
  int CountFieldIndex() const {
    for (std::size_t i = 0; i < kCountFieldCount; ++i) {
      if (key_ == kCountFieldNames[i]) return static_cast<int>(i);
    }
    return -1;
  }
  bool IsFileField() const {
    return key_ == "path" || key_ == "pathBytes" || CountFieldIndex() >= 0;
  }

  bool Open(bool isObject) {
    if (skip_ > 0) {
      ++skip_;
      return true;
    }
    switch (where_) {
      case Where::kTop:
        if (!isObject) return Fail("it is not a JSON object");
        where_ = Where::kRoot;
        return true;
      case Where::kRoot:
        if (key_ != "files") break;
        if (isObject) return Fail("its \"files\" is not an array");
        if (sawFiles_) return Fail("it has two \"files\" arrays");
        sawFiles_ = true;
        where_ = Where::kFiles;
        return true;
      case Where::kFiles:
        if (!isObject) return FailFile("is not an object");
        where_ = Where::kFile;
        seen_ = 0;
        path_.clear();
        pathBytes_.clear();
        hasBytes_ = false;
        counts_ = FileCounts();
        return true;
      case Where::kFile:
        if (IsFileField()) return FailField(isObject ? "is an object" : "is an array");
        break;
      case Where::kDone:
        break;
    }
    skip_ = 1;  // a value the document may hold, of no use here
    return true;
  }

  bool Close() {
    if (skip_ > 0) {
      --skip_;
      return true;
    }
    switch (where_) {
      case Where::kRoot:
        where_ = Where::kDone;
        return sawFiles_ || Fail("it has no \"files\" array");
      case Where::kFiles:
        where_ = Where::kRoot;
        return true;
      case Where::kFile:
        where_ = Where::kFiles;
        return FinishFile();
      case Where::kTop:
      case Where::kDone:
        break;
    }
    return true;
  }

  bool Scalar(Number number = Number::kNone, bool isString = false) {
    if (skip_ > 0) return true;
    switch (where_) {
      case Where::kTop:
        return Fail("it is not a JSON object");
      case Where::kFiles:
        return FailFile("is not an object");
      case Where::kFile:
        return FileField(number, isString);
      case Where::kRoot:
      case Where::kDone:
        break;
    }
    return true;
  }

  bool FileField(Number number, bool isString) {
    if (key_ == "path" || key_ == "pathBytes") {
      if (!isString) return FailField("is not a string");
      if (key_ == "path") {
        path_.swap(*text_);
        seen_ |= kPathSeen;
      } else {
        pathBytes_.swap(*text_);
        hasBytes_ = true;
      }
      return true;
    }
    const int index = CountFieldIndex();
    if (index < 0) return true;  // "language" and any later field
    if (number == Number::kNone) return FailField("is not a number");
    if (number == Number::kOutOfRange) return FailField(kNotWhole);
    counts_.values[static_cast<std::size_t>(index)] = number_;
    seen_ |= 1u << index;
    return true;
  }

  bool FinishFile() {
    if ((seen_ & kPathSeen) == 0) return FailFile("has no \"path\"");
    for (std::size_t i = 0; i < kCountFieldCount; ++i) {
      if ((seen_ & (1u << i)) == 0) {
        return FailFile("has no \"" + std::string(kCountFieldNames[i]) + '"');
      }
    }
    FileRecord record;
    if (hasBytes_) {
      std::string bytes;
      if (!FromHex(pathBytes_, bytes) || !platform::FileNameFromBytes(bytes, record.path)) {
        return FailFile("has a \"pathBytes\" that is not a name in hexadecimal");
      }
    } else {
      record.path = FromUtf8Lossless(path_);
    }
    if (record.path.empty()) return FailFile("has an empty \"path\"");
    record.language = LanguageOfFile(record.path, separator_);
    record.counts = counts_;
    files_.push_back(std::move(record));
    return true;
  }

  static constexpr std::uint32_t kPathSeen = 1u << kCountFieldCount;

  char16_t separator_;
  std::vector<FileRecord>& files_;
  std::string& problem_;
  Where where_ = Where::kTop;
  int skip_ = 0;
  bool sawFiles_ = false;
  std::string key_;
  Json::string_t* text_ = nullptr;  // the string value being handed over
  std::int64_t number_ = 0;
  // The file being read.
  std::uint32_t seen_ = 0;  // a bit per count field, and kPathSeen
  std::string path_;
  std::string pathBytes_;
  bool hasBytes_ = false;
  FileCounts counts_;
};

// The bytes of an open file as a stream, read 64 KiB at a time; a failed read ends the
// stream and is kept.
class CFileStreamBuffer final : public std::streambuf {
 public:
  explicit CFileStreamBuffer(platform::IReadFile& file) : file_(file) {}
  HResult failure() const { return failure_; }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (ended_) return traits_type::eof();
    std::size_t bytesRead = 0;
    if (!file_.Read(buffer_, sizeof(buffer_), bytesRead)) {
      failure_ = platform::LastErrorResult();
      bytesRead = 0;
    }
    if (bytesRead == 0) {
      ended_ = true;
      return traits_type::eof();
    }
    setg(buffer_, buffer_, buffer_ + bytesRead);
    return traits_type::to_int_type(*gptr());
  }

 private:
  platform::IReadFile& file_;
  char buffer_[1 << 16];
  HResult failure_ = hr::kOk;
  bool ended_ = false;
};

// Parses input (anything nlohmann's SAX parser reads) with the reader.
template <class Input>
bool ParseWith(Input&& input, char16_t separator, std::vector<FileRecord>& files,
               std::string& problem) {
  files.clear();
  problem.clear();
  CBaselineReader reader(separator, files, problem);
  const bool parsed = Json::sax_parse(std::forward<Input>(input), &reader);
  if (!parsed && problem.empty()) problem = "it is not JSON";
  if (!parsed) files.clear();
  return parsed;
}

}  // namespace

bool ParseBaselineDocument(std::string_view text, char16_t separator,
                           std::vector<FileRecord>& files, std::string& problem) {
  return ParseWith(text, separator, files, problem);
}

HResult ReadBaselineDocument(platform::IDisk& disk, WStringView fullPath, char16_t separator,
                             std::vector<FileRecord>& files, std::string& problem) {
  files.clear();
  problem.clear();
  const std::unique_ptr<platform::IReadFile> file = disk.NewFile();
  if (!disk.OpenFile(fullPath, *file)) return platform::LastErrorResult();
  const auto buffer = std::make_unique<CFileStreamBuffer>(*file);
  std::istream stream(buffer.get());
  const bool parsed = ParseWith(stream, separator, files, problem);
  file->Close();
  // A read that failed looks like the end of the text to the parser: the failure is the news.
  if (Failed(buffer->failure())) {
    files.clear();
    problem.clear();
    return buffer->failure();
  }
  return parsed ? hr::kOk : hr::kFalse;
}

}  // namespace srctally
