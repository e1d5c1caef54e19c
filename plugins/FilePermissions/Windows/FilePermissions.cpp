// Opens a file or directory to every user of the machine, so that processes under other accounts
// can read (and rewrite) what the agent wrote: the Everyone group gets an entry in the object's
// ACL. The caller hands over the path as UTF-16 text, which is what the security calls take.

#include <windows.h>
#include <aclapi.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

[[noreturn]] void Raise(DWORD AError, const char* AStep) {
  throw std::system_error(static_cast<int>(AError), std::system_category(),
                          std::string("FilePermissions: ") + AStep + " failed (Windows error " +
                              std::to_string(AError) + ")");
}

// Frees what the security calls allocated.
template <class T>
struct TLocalPtr {
  T Pointer = nullptr;
  ~TLocalPtr() {
    if (Pointer) ::LocalFree(reinterpret_cast<HLOCAL>(Pointer));
  }
};

}  // namespace

// Grants Everyone read and execute, with AIncludeWritePrivilege full control, on top of the entries
// the object has; a directory's entry is inherited by what lies and is made inside. Raises
// std::system_error when the path cannot be examined or changed.
extern "C" __declspec(dllexport) void SetAllRightsForEverybody(const char16_t* ADirOrFileName,
                                                               uint8_t AIncludeWritePrivilege) {
  if (!ADirOrFileName) throw std::invalid_argument("FilePermissions: no path given");
  // wchar_t is UTF-16 on Windows.
  const auto LPath = reinterpret_cast<const wchar_t*>(ADirOrFileName);
  const DWORD LAttributes = ::GetFileAttributesW(LPath);
  if (LAttributes == INVALID_FILE_ATTRIBUTES) Raise(::GetLastError(), "examining the path");

  SID_IDENTIFIER_AUTHORITY LWorld = SECURITY_WORLD_SID_AUTHORITY;
  PSID LEveryone = nullptr;
  if (!::AllocateAndInitializeSid(&LWorld, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &LEveryone))
    Raise(::GetLastError(), "making the Everyone SID");
  struct TSidFree {
    PSID Sid;
    ~TSidFree() { ::FreeSid(Sid); }
  } LEveryoneFree{LEveryone};

  PACL LOldAcl = nullptr;
  TLocalPtr<PSECURITY_DESCRIPTOR> LDescriptor;
  if (const DWORD LError = ::GetNamedSecurityInfoW(LPath, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                   &LOldAcl, nullptr, &LDescriptor.Pointer);
      LError != ERROR_SUCCESS)
    Raise(LError, "reading the ACL");

  EXPLICIT_ACCESS_W LAccess{};
  LAccess.grfAccessPermissions = AIncludeWritePrivilege ? GENERIC_ALL : GENERIC_READ | GENERIC_EXECUTE;
  LAccess.grfAccessMode = GRANT_ACCESS;
  LAccess.grfInheritance = (LAttributes & FILE_ATTRIBUTE_DIRECTORY) ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
  LAccess.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  LAccess.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  LAccess.Trustee.ptstrName = static_cast<LPWSTR>(LEveryone);
  TLocalPtr<PACL> LNewAcl;
  if (const DWORD LError = ::SetEntriesInAclW(1, &LAccess, LOldAcl, &LNewAcl.Pointer); LError != ERROR_SUCCESS)
    Raise(LError, "building the ACL");
  if (const DWORD LError = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(LPath), SE_FILE_OBJECT,
                                                   DACL_SECURITY_INFORMATION, nullptr, nullptr, LNewAcl.Pointer,
                                                   nullptr);
      LError != ERROR_SUCCESS)
    Raise(LError, "writing the ACL");
}
