// libxlsxwriter deflates every part of a new workbook at zlib's default
// level and has no option for another. For a large worksheet that deflate
// was a third of the run, for a file only a quarter smaller than at the
// fastest level. So this program asks for the fastest: its definition of
// the zip call libxlsxwriter makes comes first, changes the level and
// hands on to minizip's own.
#include <dlfcn.h>
#include <xlsxwriter/third_party/zip.h>

extern "C" __attribute__((visibility("default"))) int ZEXPORT
zipOpenNewFileInZip4_64(zipFile file, const char* filename,
                        const zip_fileinfo* zipfi, const void* extrafield_local,
                        uInt size_extrafield_local,
                        const void* extrafield_global,
                        uInt size_extrafield_global, const char* comment,
                        int method, int level, int raw, int windowBits,
                        int memLevel, int strategy, const char* password,
                        uLong crcForCrypting, uLong versionMadeBy,
                        uLong flagBase, int zip64) {
  using Open = decltype(&zipOpenNewFileInZip4_64);
  static const auto next =
      reinterpret_cast<Open>(dlsym(RTLD_NEXT, "zipOpenNewFileInZip4_64"));
  if (next == nullptr) return ZIP_INTERNALERROR;
  if (level == Z_DEFAULT_COMPRESSION) level = Z_BEST_SPEED;
  return next(file, filename, zipfi, extrafield_local, size_extrafield_local,
              extrafield_global, size_extrafield_global, comment, method, level,
              raw, windowBits, memLevel, strategy, password, crcForCrypting,
              versionMadeBy, flagBase, zip64);
}
