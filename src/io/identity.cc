#include <pellar/base/text_internal.h>
#include <pellar/io/identity.h>

#include <pellar/io/textfile.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

struct ThreadIdentity {
  Text application_name;
  Text developer_name;
  Text activity_log;
};

// Module state exists once per host thread and starts empty.
ThreadIdentity& Identity() {
  thread_local ThreadIdentity identity;
  return identity;
}

void AppendTwoDigits(Text& out, int n) {
  out.push_back(static_cast<char16_t>(u'0' + (n / 10) % 10));
  out.push_back(static_cast<char16_t>(u'0' + n % 10));
}

}  // namespace

LibraryInfo GetLibraryInfo() {
  return LibraryInfo{u"Pellar UFL",
                     u"Brambleworth Ltd",
                     u"PellarLib",
                     u"PellarLib",
                     PELLAR_VERSION_MAJOR,
                     PELLAR_VERSION_MINOR,
                     PELLAR_VERSION_REVISION,
                     Platform::Current().ModuleFolder()};
}

void SetApplication(TextView application_name, TextView developer_name) {
  Identity().application_name = application_name;
  Identity().developer_name = developer_name;
}

Text GetApplicationName() { return Identity().application_name; }

Text GetDeveloper() {
  const Text& name = Identity().developer_name;
  return name.empty() ? Text(u"Brambleworth") : name;
}

Text GetDeveloperWebAddress() { return u"www.brambleworth.example"; }

Text FormatDate(const LocalDateTime& when) {
  Text out;
  AppendTwoDigits(out, when.day);
  out += u'-';
  out += Platform::Current().MonthAbbreviation(when.month);
  out += u'-';
  out += ZeroPadded(when.year, 4);
  return out;
}

void LogLine(TextView text) {
  LocalDateTime now = Platform::Current().LocalTime();
  Text& log = Identity().activity_log;
  log += u"\r\n";
  log += FormatDate(now);
  log += u' ';
  AppendTwoDigits(log, now.hour);
  log += u':';
  AppendTwoDigits(log, now.minute);
  log += u':';
  AppendTwoDigits(log, now.second);
  log += u' ';
  log += text;
}

const Text& ActivityLog() { return Identity().activity_log; }

void ClearActivityLog() { Identity().activity_log.clear(); }

void SaveLog() {
  Platform& platform = Platform::Current();
  Text path = platform.ModuleFolder();
  path += platform.Separator();
  path += u"UFL.log";
  WriteTextFile(path, Identity().activity_log);
}

void WriteTextFile(TextView path, TextView text) {
  // Never written through a link planted at the name.
  TextWriter writer(OpenForSave(path, FileAccess::kReplace));
  writer.WriteLine(text);
  writer.Close();
}

}  // namespace pellar
