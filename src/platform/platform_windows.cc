// The Windows platform. Paths are UTF-16 as the library holds them; "\"
// separates ("/" is taken too, as Windows does).
//
// <windows.h> comes first: it defines DeleteFile, CopyFile and ReplaceFile
// as macros, which must be gone before the platform's methods of those
// names are declared.
#include <windows.h>
#undef DeleteFile
#undef CopyFile
#undef ReplaceFile

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include <pellar/base/failure.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

constexpr size_t kWriteBufferSize = 64 * 1024;

std::wstring Wide(TextView text) {
  return std::wstring(text.begin(), text.end());
}

Text FromWide(const wchar_t* s, size_t n) {
  return Text(reinterpret_cast<const char16_t*>(s), n);
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The one place where a Win32 error becomes a library failure. `path` is
// what the failed operation was about: "access denied" on a folder is a
// path/file access error, as when a folder is opened as a file.
Failure WindowsError(const std::wstring& path, DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return Failure(error::kFileNotFound);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return Failure(error::kPathNotFound);
    case ERROR_ACCESS_DENIED:
      return Failure(IsFolder(path) ? error::kPathFileAccess
                                    : error::kPermissionDenied);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
      return Failure(error::kPermissionDenied);
    case ERROR_DIR_NOT_EMPTY:
    case ERROR_CANNOT_MAKE:
      return Failure(error::kPathFileAccess);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Failure(error::kFileExists);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Failure(error::kDiskFull);
    case ERROR_NOT_SAME_DEVICE:
      return Failure(error::kRenameAcrossDrives);
    case ERROR_TOO_MANY_OPEN_FILES:
      return Failure(error::kTooManyFiles);
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return Failure(error::kBadFileName);
    case ERROR_NOT_READY:
      return Failure(error::kDiskNotReady);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return Failure(error::kOutOfMemory);
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      return Failure(error::kInvalidCall);
    default:
      return Failure(error::kDeviceIo);
  }
}

// Of two paths, the one a folder-related error is about.
const std::wstring& FolderOf(const std::wstring& a, const std::wstring& b) {
  return IsFolder(b) && !IsFolder(a) ? b : a;
}

// A path for the system; never empty and never holding NUL, which would
// silently name another file.
std::wstring SystemPath(TextView path) {
  if (path.empty() || path.find(u'\0') != TextView::npos) {
    throw Failure(error::kBadFileName);
  }
  return Wide(path);
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  // Closes now; false (with the last error set) when closing failed.
  bool Close() {
    HANDLE h = std::exchange(h_, INVALID_HANDLE_VALUE);
    return h == INVALID_HANDLE_VALUE || ::CloseHandle(h);
  }

 private:
  HANDLE h_;
};

// Writes to `h`. When `temp` is set the bytes go to that fresh file, which
// Close() moves over `path`; a file never closed is dropped, unless `keep`
// says that it takes its place all the same (a save's file keeps what was
// written before a failure).
class WindowsWritableFile final : public WritableFile {
 public:
  WindowsWritableFile(HANDLE h, std::wstring path, std::wstring temp = {},
                      bool keep = false)
      : handle_(h),
        path_(std::move(path)),
        temp_(std::move(temp)),
        keep_(keep) {
    buffer_.reserve(kWriteBufferSize);
  }
  ~WindowsWritableFile() override {
    handle_.Close();
    if (temp_.empty()) return;
    if (!keep_ || !::MoveFileExW(temp_.c_str(), path_.c_str(),
                                 MOVEFILE_REPLACE_EXISTING)) {
      ::DeleteFileW(temp_.c_str());
    }
  }

  void Append(std::string_view bytes) override {
    if (!handle_.valid()) throw Failure(error::kBadFileName);
    if (buffer_.size() + bytes.size() <= kWriteBufferSize) {
      buffer_.append(bytes);
      return;
    }
    Flush();
    if (bytes.size() <= kWriteBufferSize) {
      buffer_.append(bytes);
    } else {
      WriteAll(bytes);
    }
  }

  void Close() override {
    if (!handle_.valid()) return;
    try {
      Flush();
    } catch (...) {
      // What was written stays, as for a file written in place.
      handle_.Close();
      try {
        Commit();
      } catch (...) {
        // The failure to write is the one reported.
      }
      throw;
    }
    if (!handle_.Close()) throw WindowsError(path_, ::GetLastError());
    Commit();
  }

 private:
  // Moving replaces the name itself, never what a reparse point there
  // leads to.
  void Commit() {
    if (temp_.empty()) return;
    const std::wstring temp = std::exchange(temp_, std::wstring());
    if (!::MoveFileExW(temp.c_str(), path_.c_str(),
                       MOVEFILE_REPLACE_EXISTING)) {
      const DWORD code = ::GetLastError();
      ::DeleteFileW(temp.c_str());
      throw WindowsError(path_, code);
    }
  }

  void Flush() {
    std::string pending;
    pending.swap(buffer_);
    buffer_.reserve(kWriteBufferSize);
    WriteAll(pending);
  }

  void WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
      DWORD chunk =
          static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(handle_.get(), bytes.data(), chunk, &written, nullptr)) {
        throw WindowsError(path_, ::GetLastError());
      }
      bytes.remove_prefix(written);
    }
  }

  Handle handle_;
  std::wstring path_;
  std::wstring temp_;
  bool keep_;
  std::string buffer_;
};

class WindowsSequentialFile final : public SequentialFile {
 public:
  WindowsSequentialFile(HANDLE h, std::wstring path)
      : handle_(h), path_(std::move(path)) {}

  size_t Read(char* buffer, size_t n) override {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(handle_.get(), buffer, chunk, &got, nullptr)) {
      DWORD code = ::GetLastError();
      if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return 0;
      throw WindowsError(path_, code);
    }
    return got;
  }
  uint64_t SizeHint() override {
    LARGE_INTEGER size;
    return ::GetFileSizeEx(handle_.get(), &size) && size.QuadPart > 0
               ? static_cast<uint64_t>(size.QuadPart)
               : 0;
  }

 private:
  Handle handle_;
  std::wstring path_;
};

// What stands at `p`: its attributes and file type, the last component
// taken as it is (a reparse point is not followed) unless `follow`. False
// when nothing does.
bool Probe(const std::wstring& p, bool follow, DWORD* attributes, DWORD* type) {
  Handle h(::CreateFileW(
      p.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr));
  if (!h.valid()) {
    const DWORD code = ::GetLastError();
    // A file standing where the name has a folder is reported as an
    // invalid name or directory: nothing can be there.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
        code == ERROR_DIRECTORY || code == ERROR_INVALID_NAME) {
      return false;
    }
    throw WindowsError(p, code);
  }
  *type = ::GetFileType(h.get());
  BY_HANDLE_FILE_INFORMATION info;
  *attributes =
      ::GetFileInformationByHandle(h.get(), &info) ? info.dwFileAttributes : 0;
  return true;
}

EntryKind KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::kOther;
  return EntryKind::kFile;
}

LocalDateTime LocalOf(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME t{};
  if (!::FileTimeToLocalFileTime(&utc, &local) ||
      !::FileTimeToSystemTime(&local, &t)) {
    return LocalDateTime{};
  }
  return LocalDateTime{t.wYear, t.wMonth,  t.wDay,
                       t.wHour, t.wMinute, t.wSecond};
}

// Creates the fresh file beside `p` that will take its name.
HANDLE CreateFreshSibling(const std::wstring& p, std::wstring& temp) {
  const Text path(p.begin(), p.end());
  for (int attempt = 0;; ++attempt) {
    temp = Wide(TemporarySibling(path, u'\\'));
    HANDLE h = ::CreateFileW(
        temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    const DWORD code = ::GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) ||
        attempt == 100) {
      throw WindowsError(p, code);
    }
  }
}

// The file NewWritableFile creates, at a name already made a system path,
// as FileAccess describes: never written through a reparse point or into an
// older file, but under a fresh name moved over the name once written; a
// character device (NUL, a printer port) named by kNormal is written where
// it stands. `at` tells the step under way, as CreateForSave's.
std::unique_ptr<WritableFile> CreateWritable(std::wstring p, FileAccess access,
                                             SaveStep& at) {
  at = SaveStep::kDeleteOld;
  DWORD attributes = 0, type = FILE_TYPE_UNKNOWN;
  if (Probe(p, /*follow=*/false, &attributes, &type)) {
    const bool normal = access == FileAccess::kNormal;
    if (normal && type == FILE_TYPE_CHAR) {
      at = SaveStep::kCreate;
      HANDLE h =
          ::CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (h == INVALID_HANDLE_VALUE) throw WindowsError(p, ::GetLastError());
      if (::GetFileType(h) != FILE_TYPE_CHAR) {
        ::CloseHandle(h);
        throw Failure(error::kPathFileAccess);
      }
      return std::make_unique<WindowsWritableFile>(h, std::move(p));
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      throw Failure(error::kPermissionDenied);
    }
    at = SaveStep::kCreate;
    if (type != FILE_TYPE_DISK || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw Failure(error::kPathFileAccess);
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A save replaces a link that leads nowhere or to a file; nothing
      // else ever replaces one.
      DWORD target_attributes = 0, target_type = FILE_TYPE_UNKNOWN;
      if (!normal ||
          (Probe(p, /*follow=*/true, &target_attributes, &target_type) &&
           (target_type != FILE_TYPE_DISK ||
            (target_attributes & FILE_ATTRIBUTE_DIRECTORY)))) {
        throw Failure(error::kPathFileAccess);
      }
    } else if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
      // As creating over such a file refuses.
      throw Failure(error::kPermissionDenied);
    }
  }
  at = SaveStep::kCreate;
  std::wstring temp;
  HANDLE h = CreateFreshSibling(p, temp);
  return std::make_unique<WindowsWritableFile>(h, std::move(p), std::move(temp),
                                               access == FileAccess::kNormal);
}

// Anything whose address lies inside the library, to find its file.
void ModuleAnchor() {}

class WindowsPlatform final : public Platform {
 private:
  // Starts `command_line` with a console of its own, as a program started
  // from a window gets, none of our handles inherited, shown as `show`;
  // its thread handle closed.
  static PROCESS_INFORMATION Create(TextView command_line, WORD show) {
    std::vector<Text> args = SplitCommandLine(command_line);
    if (args.empty() || args[0].empty()) throw Failure(error::kFileNotFound);
    if (command_line.find(u'\0') != TextView::npos) {
      throw Failure(error::kBadFileName);
    }
    std::wstring line = Wide(command_line);  // CreateProcessW may write it
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                          &process)) {
      throw WindowsError(Wide(args[0]), ::GetLastError());
    }
    ::CloseHandle(process.hThread);
    return process;
  }

 public:
  std::vector<Text> Lookup(TextView pattern, LookupKind kind) override {
    std::vector<Text> found;
    if (pattern.find(u'\0') != TextView::npos) {
      throw Failure(error::kBadFileName);
    }
    // The folder part ends at the last separator or at a drive's colon.
    size_t end = pattern.find_last_of(u"\\/:");
    Text prefix(end == TextView::npos ? TextView()
                                      : pattern.substr(0, end + 1));
    TextView name = end == TextView::npos ? pattern : pattern.substr(end + 1);
    if (name.empty()) {
      // "dir\" names the folder itself; "" names nothing.
      if (!pattern.empty() && kind == LookupKind::kFolder &&
          IsFolder(Wide(pattern))) {
        found.emplace_back(pattern);
      }
      return found;
    }
    WIN32_FIND_DATAW data;
    const std::wstring wide = Wide(pattern);
    HANDLE h = ::FindFirstFileW(wide.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD code = ::GetLastError();
      // A file standing where the pattern has a folder is reported as an
      // invalid name or directory: nothing can match there.
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
          code == ERROR_NO_MORE_FILES || code == ERROR_DIRECTORY ||
          code == ERROR_INVALID_NAME) {
        return found;
      }
      throw WindowsError(wide, code);
    }
    struct FindCloser {
      HANDLE h;
      ~FindCloser() { ::FindClose(h); }
    } closer{h};
    do {
      const wchar_t* entry = data.cFileName;
      if (std::wcscmp(entry, L".") == 0 || std::wcscmp(entry, L"..") == 0) {
        continue;
      }
      const DWORD attributes = data.dwFileAttributes;
      if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        continue;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
          kind == LookupKind::kFile) {
        continue;
      }
      found.push_back(prefix + FromWide(entry, std::wcslen(entry)));
    } while (::FindNextFileW(h, &data));
    DWORD code = ::GetLastError();
    if (code != ERROR_NO_MORE_FILES) throw WindowsError(wide, code);
    return found;
  }

  void DeleteFile(TextView path) override {
    std::wstring p = SystemPath(path);
    // A link to a folder is removed as a folder is; its target stays.
    const DWORD attributes = ::GetFileAttributesW(p.c_str());
    const DWORD folder_link =
        FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    const BOOL done = attributes != INVALID_FILE_ATTRIBUTES &&
                              (attributes & folder_link) == folder_link
                          ? ::RemoveDirectoryW(p.c_str())
                          : ::DeleteFileW(p.c_str());
    if (!done) throw WindowsError(p, ::GetLastError());
  }

  void ForceDeleteFile(TextView path) override {
    std::wstring p = SystemPath(path);
    const DWORD attributes = ::GetFileAttributesW(p.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      ::SetFileAttributesW(p.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    DeleteFile(path);
  }

  void DeleteEmptyFolder(TextView path) override {
    std::wstring p = SystemPath(path);
    const DWORD attributes = ::GetFileAttributesW(p.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        KindOf(attributes) != EntryKind::kFolder) {
      throw Failure(error::kPathNotFound);
    }
    if (!::RemoveDirectoryW(p.c_str())) throw WindowsError(p, ::GetLastError());
  }

  void DeleteFolderTree(TextView path, bool force) override {
    Text p(path);
    while (p.size() > 3 && (p.back() == u'\\' || p.back() == u'/')) {
      p.pop_back();
    }
    const DWORD attributes = ::GetFileAttributesW(SystemPath(p).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw Failure(error::kPathNotFound);
    }
    // A reparse point named as the folder goes, its target stays.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      DeleteFile(p);
      return;
    }
    for (const FolderEntry& entry : ListFolder(p)) {
      const Text inner = p + u'\\' + entry.name;
      if (entry.kind == EntryKind::kFolder) {
        DeleteFolderTree(inner, force);
      } else if (force) {
        ForceDeleteFile(inner);
      } else {
        DeleteFile(inner);
      }
    }
    DeleteEmptyFolder(p);
  }

  std::vector<FolderEntry> ListFolder(TextView folder) override {
    std::wstring p = SystemPath(folder);
    if (!IsFolder(p)) throw Failure(error::kPathNotFound);
    if (p.back() != L'\\' && p.back() != L'/') p += L'\\';
    p += L'*';
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileW(p.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES) {
        return entries;
      }
      throw WindowsError(p, code);
    }
    struct FindCloser {
      HANDLE h;
      ~FindCloser() { ::FindClose(h); }
    } closer{h};
    do {
      const wchar_t* entry = data.cFileName;
      if (std::wcscmp(entry, L".") == 0 || std::wcscmp(entry, L"..") == 0) {
        continue;
      }
      entries.push_back(
          {FromWide(entry, std::wcslen(entry)), KindOf(data.dwFileAttributes)});
    } while (::FindNextFileW(h, &data));
    const DWORD code = ::GetLastError();
    if (code != ERROR_NO_MORE_FILES) throw WindowsError(p, code);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) {
                return a.name < b.name;
              });
    return entries;
  }

  EntryStatus Status(TextView path) override {
    std::wstring p = SystemPath(path);
    // Reports a reparse point itself, never its target.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &data)) {
      throw WindowsError(p, ::GetLastError());
    }
    EntryStatus status;
    status.kind = KindOf(data.dwFileAttributes);
    if (status.kind == EntryKind::kFile) {
      status.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    }
    status.modified = LocalOf(data.ftLastWriteTime);
    status.created = LocalOf(data.ftCreationTime);
    return status;
  }

  Text CurrentFolder() override {
    std::wstring folder(MAX_PATH, L'\0');
    while (true) {
      const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()),
                                             folder.data());
      if (n == 0) throw WindowsError(L".", ::GetLastError());
      if (n < folder.size()) return FromWide(folder.data(), n);
      folder.resize(n);
    }
  }

  void Rename(TextView from, TextView to) override {
    std::wstring f = SystemPath(from), t = SystemPath(to);
    // No MOVEFILE_COPY_ALLOWED: across drives this fails (74) instead of
    // copying, and an existing target is never replaced (58).
    if (!::MoveFileExW(f.c_str(), t.c_str(), 0)) {
      throw WindowsError(FolderOf(f, t), ::GetLastError());
    }
  }

  void CopyFile(TextView from, TextView to) override {
    std::wstring f = SystemPath(from), t = SystemPath(to);
    // Never written through a reparse point nor into an older file: copied
    // to a fresh name beside it, then moved over it.
    DWORD attributes = 0, type = FILE_TYPE_UNKNOWN;
    if (Probe(t, /*follow=*/false, &attributes, &type) &&
        (type != FILE_TYPE_DISK ||
         (attributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))) {
      throw Failure(error::kPathFileAccess);
    }
    const std::wstring temp = Wide(TemporarySibling(to, u'\\'));
    if (!::CopyFileW(f.c_str(), temp.c_str(), TRUE)) {
      throw WindowsError(FolderOf(t, f), ::GetLastError());
    }
    if (!::MoveFileExW(temp.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      const DWORD code = ::GetLastError();
      ::DeleteFileW(temp.c_str());
      throw WindowsError(FolderOf(t, f), code);
    }
  }

  void ReplaceFile(TextView from, TextView to) override {
    std::wstring f = SystemPath(from), t = SystemPath(to);
    if (!::MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      throw WindowsError(FolderOf(t, f), ::GetLastError());
    }
  }

  bool SameFile(TextView a, TextView b) override {
    if (a.empty() || b.empty() || a.find(u'\0') != TextView::npos ||
        b.find(u'\0') != TextView::npos) {
      return false;
    }
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return Identify(Wide(a), &ia) && Identify(Wide(b), &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
  }

  void CreateFolder(TextView path) override {
    std::wstring p = SystemPath(path);
    if (!::CreateDirectoryW(p.c_str(), nullptr)) {
      DWORD code = ::GetLastError();
      // An existing entry is a path/file access error.
      throw code == ERROR_ALREADY_EXISTS ? Failure(error::kPathFileAccess)
                                         : WindowsError(p, code);
    }
  }

  std::unique_ptr<WritableFile> NewWritableFile(TextView path,
                                                FileAccess access) override {
    SaveStep unused;
    return CreateWritable(SystemPath(path), access, unused);
  }

  std::unique_ptr<WritableFile> CreateForSave(TextView path, FileAccess access,
                                              SaveStep* step) override {
    SaveStep unused;
    SaveStep& at = step != nullptr ? *step : unused;
    // An empty name has nothing older to judge; its creation fails.
    at = SaveStep::kCreate;
    return CreateWritable(SystemPath(path), access, at);
  }

  std::unique_ptr<SequentialFile> NewSequentialFile(TextView path) override {
    std::wstring p = SystemPath(path);
    HANDLE h = ::CreateFileW(p.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw WindowsError(p, ::GetLastError());
    // Only files are read: a device such as CON would wait for input, and
    // with it the host.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      throw Failure(error::kPathFileAccess);
    }
    return std::make_unique<WindowsSequentialFile>(h, std::move(p));
  }

  void StartProcess(TextView command_line, WindowStyle style) override {
    PROCESS_INFORMATION process =
        Create(command_line, style == WindowStyle::kMinimizedNoFocus
                                 ? SW_SHOWMINNOACTIVE
                                 : SW_SHOWMINIMIZED);
    // Not waited for: closing the handles leaves nothing behind.
    ::CloseHandle(process.hProcess);
  }

  int RunProcess(TextView command_line) override {
    PROCESS_INFORMATION process = Create(command_line, SW_HIDE);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    const BOOL got = ::GetExitCodeProcess(process.hProcess, &code);
    const DWORD why = ::GetLastError();
    ::CloseHandle(process.hProcess);
    if (!got) throw WindowsError(Wide(SplitCommandLine(command_line)[0]), why);
    return static_cast<int>(code);
  }

  Text TempFolder() override {
    char buffer[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n > sizeof buffer) return u".\\";
    wchar_t wide[MAX_PATH + 1];
    int w = ::MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(n), wide,
                                  MAX_PATH + 1);
    Text folder = FromWide(wide, w > 0 ? static_cast<size_t>(w) : 0);
    if (folder.empty()) return u".\\";
    if (folder.back() != u'\\') folder.push_back(u'\\');
    return folder;
  }

  LocalDateTime LocalTime() override {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return LocalDateTime{t.wYear, t.wMonth,  t.wDay,
                         t.wHour, t.wMinute, t.wSecond};
  }

  Text MonthAbbreviation(int month) override {
    if (month < 1 || month > 12) throw Failure(error::kInvalidCall);
    wchar_t name[80];
    int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT,
                             LOCALE_SABBREVMONTHNAME1 + (month - 1), name, 80);
    if (n > 1) return FromWide(name, static_cast<size_t>(n - 1));
    static const char16_t* const kEnglish[] = {u"Jan", u"Feb", u"Mar", u"Apr",
                                               u"May", u"Jun", u"Jul", u"Aug",
                                               u"Sep", u"Oct", u"Nov", u"Dec"};
    return kEnglish[month - 1];
  }

  Text ModuleFolder() override {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&ModuleAnchor),
                              &module)) {
      return u".";
    }
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
      DWORD n = ::GetModuleFileNameW(module, path.data(),
                                     static_cast<DWORD>(path.size()));
      if (n == 0) return u".";
      if (n < path.size()) {
        path.resize(n);
        break;
      }
      path.resize(path.size() * 2);
    }
    size_t end = path.find_last_of(L"\\/");
    if (end == std::wstring::npos) return u".";
    return FromWide(path.data(), end);
  }

  char16_t Separator() override { return u'\\'; }

  uint64_t PhysicalMemory() override {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status)) return 0;
    return status.ullTotalPhys;
  }

 private:
  // The volume and file index of `path`; a symbolic link in the last
  // component is itself, not its target.
  static bool Identify(const std::wstring& path,
                       BY_HANDLE_FILE_INFORMATION* info) {
    Handle h(::CreateFileW(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return h.valid() && ::GetFileInformationByHandle(h.get(), info);
  }
};

}  // namespace

Platform& Platform::Default() {
  static WindowsPlatform* platform = new WindowsPlatform();  // never destroyed
  return *platform;
}

}  // namespace pellar
