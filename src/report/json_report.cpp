// The JSON document writer.
#include "report/json_report.h"

#include "base/format.h"
#include "report/language_report.h"

namespace srctally {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendField(std::string& out, const char* name, std::int64_t value) {
  out += ", \"";
  out += name;
  out += "\": ";
  AppendDecimal(out, value);
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
  for (const char ch : utf8) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHexDigits[byte >> 4];
          out += kHexDigits[byte & 0xF];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

void AppendHex(std::string& out, std::string_view bytes) {
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0xF];
  }
}

CJsonReport::CJsonReport(platform::IByteOutput& document, IProblemLines& problems,
                         char16_t separator)
    : CMachineReport(document, problems, separator) {}

void CJsonReport::AppendPathFields(std::string& out, const char* name, const char* bytesName) {
  nameBytes_.clear();
  const bool replaced = PathAsUtf8(utf8_, &nameBytes_);
  out += '"';
  out += name;
  out += "\": ";
  AppendJsonString(out, utf8_);
  if (replaced) {
    out += ", \"";
    out += bytesName;
    out += "\": \"";
    AppendHex(out, nameBytes_);
    out += '"';
  }
}

void CJsonReport::AppendCounts(std::string& out, const LineStats& stats) {
  AppendField(out, "size", stats.size.value);
  AppendField(out, "actual", stats.actual.value);
  AppendField(out, "code", CodeRow(stats));
  AppendField(out, "directive", stats.directiveLines);
  AppendField(out, "empty", stats.emptyLines);
  AppendField(out, "comment", stats.commentLines);
  AppendField(out, "emptyComment", stats.emptyCommentLines);
  AppendField(out, "total", stats.lines);
}

void CJsonReport::AppendOrigin(std::string& out, const DocumentOrigin& origin) {
  WString version(origin.version);
  ReplaceLoneSurrogates(version);
  out += "\"version\": ";
  AppendJsonString(out, ToUtf8(version));
  out += ",\n  \"arguments\": [";
  // Built beside the arguments and written only when one of them needs it.
  std::string bytesList;
  bool anyBytes = false;
  for (std::size_t i = 0; i < origin.arguments.size(); ++i) {
    if (i != 0) {
      out += ", ";
      bytesList += ", ";
    }
    path_.assign(origin.arguments[i]);
    nameBytes_.clear();
    if (PathAsUtf8(utf8_, &nameBytes_)) {
      anyBytes = true;
      bytesList += '"';
      AppendHex(bytesList, nameBytes_);
      bytesList += '"';
    } else {
      bytesList += "null";
    }
    AppendJsonString(out, utf8_);
  }
  out += ']';
  if (anyBytes) {
    out += ",\n  \"argumentsBytes\": [";
    out += bytesList;
    out += ']';
  }
  out += ",\n  \"started\": ";
  if (origin.started.empty()) {
    out += "null";
  } else {
    AppendJsonString(out, origin.started);
  }
}

void CJsonReport::Begin(WStringView sourcePath, const DocumentOrigin& origin) {
  out_ = "{\n  ";
  AppendOrigin(out_, origin);
  out_ += ",\n  ";
  path_.assign(sourcePath);
  AppendPathFields(out_, "source", "sourceBytes");
  out_ += ",\n  \"files\": [";
  Emit(out_);
}

void CJsonReport::FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) {
  TakeFile(relativeFolder, name, file);
  out_ = anyFile_ ? ",\n    {" : "\n    {";
  anyFile_ = true;
  AppendPathFields(out_, "path", "pathBytes");
  const Language language = LanguageOfFile(name, separator_);
  languages_.Add(language, CountsOf(file));
  out_ += ", \"language\": \"";
  out_ += LanguageName(language);  // plain ASCII without quotes
  out_ += '"';
  AppendCounts(out_, file);
  out_ += '}';
  Emit(out_);
}

void CJsonReport::KeepProblem(WalkProblem problem) { kept_.push_back(std::move(problem)); }

bool CJsonReport::Finish(std::int64_t elapsedNanoseconds, std::string_view extraMembers) {
  out_ = anyFile_ ? "\n  ],\n  \"summary\": {\"files\": " : "],\n  \"summary\": {\"files\": ";
  AppendDecimal(out_, totals().files);
  AppendCounts(out_, totals());
  out_ += "},\n  \"languages\": [";
  bool firstLanguage = true;
  for (const LanguageRow& row : languages_.Rows()) {
    out_ += firstLanguage ? "\n    " : ",\n    ";
    firstLanguage = false;
    AppendLanguageObject(out_, row.language, row.group);
  }
  out_ += firstLanguage ? "]" : "\n  ]";
  if (!extraMembers.empty()) {
    out_ += ",\n  ";
    out_ += extraMembers;
  }
  out_ += ",\n  \"errors\": [";
  bool first = true;
  for (WalkProblem& problem : kept_) {
    out_ += first ? "\n    {\"kind\": " : ",\n    {\"kind\": ";
    first = false;
    out_ += problem.isError ? "\"error\", " : "\"warning\", ";
    path_ = std::move(problem.path);
    AppendPathFields(out_, "path", "pathBytes");
    out_ += ", \"code\": \"";
    out_ += ToUtf8(Format(u"0x%08X", static_cast<std::uint32_t>(problem.code)));
    out_ += "\", \"message\": ";
    ReplaceLoneSurrogates(problem.message);
    AppendJsonString(out_, ToUtf8(problem.message));
    out_ += ", \"system\": ";
    ReplaceLoneSurrogates(problem.systemText);
    AppendJsonString(out_, ToUtf8(problem.systemText));
    out_ += '}';
  }
  out_ += first ? "],\n  \"seconds\": " : "\n  ],\n  \"seconds\": ";
  const std::int64_t nanoseconds = elapsedNanoseconds < 0 ? 0 : elapsedNanoseconds;
  AppendDecimal(out_, nanoseconds / 1000000000);
  const std::string fraction = std::to_string(1000000000 + nanoseconds % 1000000000);
  out_ += '.';
  out_.append(fraction, 1, std::string::npos);  // nine digits, leading zeros kept
  out_ += "\n}\n";
  Emit(out_);
  return document_.Flush();
}

}  // namespace srctally
