// Opens a file or directory to every user of the machine, so that processes under other accounts
// can read (and rewrite) what the agent wrote. The caller hands over the path as UTF-16 text.

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

void AppendUtf8(std::string& AResult, char32_t ACode) {
  if (ACode < 0x80) {
    AResult += static_cast<char>(ACode);
  } else if (ACode < 0x800) {
    AResult += static_cast<char>(0xC0 | (ACode >> 6));
    AResult += static_cast<char>(0x80 | (ACode & 0x3F));
  } else if (ACode < 0x10000) {
    AResult += static_cast<char>(0xE0 | (ACode >> 12));
    AResult += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AResult += static_cast<char>(0x80 | (ACode & 0x3F));
  } else {
    AResult += static_cast<char>(0xF0 | (ACode >> 18));
    AResult += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
    AResult += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AResult += static_cast<char>(0x80 | (ACode & 0x3F));
  }
}

// File names on disk are UTF-8; a lone surrogate has no UTF-8 form, so it names no file.
std::string Utf16ToUtf8(const char16_t* AText) {
  std::string LResult;
  for (const char16_t* LPos = AText; *LPos; ++LPos) {
    char32_t LCode = *LPos;
    if (LCode >= 0xD800 && LCode <= 0xDBFF && LPos[1] >= 0xDC00 && LPos[1] <= 0xDFFF) {
      LCode = 0x10000 + ((LCode - 0xD800) << 10) + (LPos[1] - 0xDC00);
      ++LPos;
    } else if (LCode >= 0xD800 && LCode <= 0xDFFF) {
      throw std::invalid_argument("FilePermissions: the path holds an unpaired UTF-16 surrogate");
    }
    AppendUtf8(LResult, LCode);
  }
  return LResult;
}

}  // namespace

// Adds read for everybody; with AIncludeWritePrivilege also write; on a directory also search, so
// that what lies inside can be reached. Bits that are set already stay. Raises std::system_error
// when the path cannot be examined or changed.
extern "C" __attribute__((visibility("default"))) void SetAllRightsForEverybody(
    const char16_t* ADirOrFileName, uint8_t AIncludeWritePrivilege) {
  if (!ADirOrFileName) throw std::invalid_argument("FilePermissions: no path given");
  const std::string LPath = Utf16ToUtf8(ADirOrFileName);

  struct stat LInfo {};
  if (stat(LPath.c_str(), &LInfo) != 0) {
    throw std::system_error(errno, std::generic_category(), "FilePermissions: cannot examine " + LPath);
  }
  mode_t LMode = LInfo.st_mode & 07777;
  LMode |= S_IRUSR | S_IRGRP | S_IROTH;
  if (AIncludeWritePrivilege) LMode |= S_IWUSR | S_IWGRP | S_IWOTH;
  if (S_ISDIR(LInfo.st_mode)) {
    LMode |= S_IXUSR | S_IXGRP | S_IXOTH;
  } else if (AIncludeWritePrivilege) {
    // A program that everybody may rewrite must not run with its owner's rights.
    LMode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  }
  if (chmod(LPath.c_str(), LMode) != 0) {
    throw std::system_error(errno, std::generic_category(), "FilePermissions: cannot change " + LPath);
  }
}
