#include "updater/install/install_recovery.h"

#include <cstring>

#include "updater/install/install_journal.h"
#include "updater/install/install_moves.h"
#include "updater/install/install_names.h"

const char kArchiveSuffix[] = ".tarnwick.zip";
const char kSignatureSuffix[] = ".tarnwick.zip.sig";

namespace {

// The test of whether the folder can be written (updater/app/folder_access.h)
// goes when closed; only a power cut can leave one.
const char kProbePrefix[] = "~update.probe.";

// The previous version staged each file beside its target under these.
const char kOldStagingSuffix[] = ".~upd-new";
const char kOldAsideSuffix[] = ".~upd-old";

bool EndsWith(const CString& text, const char* suffix) {
  const size_t n = strlen(suffix);
  const size_t size = static_cast<size_t>(text.GetLength());
  return size > n && memcmp(text.GetString() + size - n, suffix, n) == 0;
}

// The zip layer writes each file to "~u" and four hex digits first
// (unzip/platform/file_system.h); a kill can leave one.
bool IsLayerTemporary(const CString& name) {
  const char* text = name.GetString();
  if (strlen(text) != 6 || text[0] != '~' || text[1] != 'u') return false;
  return strspn(text + 2, "0123456789abcdef") == 4;
}

class CSweep {
 public:
  CSweep(CInstallFileSystem& fs, RecoveryReport* report) : m_fs(fs), m_report(*report) {}

  // The files of directory (and with recurse of the folders below, but not
  // the updater's own folders at the top) that earlier runs left.
  void Run(const CString& directory, bool topLevel, bool recurse) {
    m_fs.List(directory, [&](const CString& name, bool isDirectory) {
      if (isDirectory) {
        const bool own = topLevel && (name == kStagingFolderName || name == kBackupFolderName);
        if (recurse && !own) Run(directory + "/" + name, false, true);
      } else {
        Leftover(directory, name, topLevel);
      }
    });
  }

 private:
  // An old copy of the previous version whose target is gone is put back
  // instead of removed.
  void Leftover(const CString& directory, const CString& name, bool topLevel) {
    const CString path = directory + "/" + name;
    if (EndsWith(name, kOldAsideSuffix)) {
      const CString target =
          path.Left(path.GetLength() - static_cast<int>(strlen(kOldAsideSuffix)));
      const uint32_t attributes = m_fs.GetAttributes(target);
      if (attributes == kInstallMissing) {
        Count(m_fs.Move(path, target) == MoveResult::kMoved);
      } else {
        Count(attributes != kInstallUnknown && m_fs.RemoveFile(path));
      }
    } else if (EndsWith(name, kOldStagingSuffix) || IsLayerTemporary(name) ||
               (topLevel && (EndsWith(name, kArchiveSuffix) || EndsWith(name, kSignatureSuffix) ||
                             strncmp(name.GetString(), kProbePrefix, strlen(kProbePrefix)) == 0))) {
      Count(m_fs.RemoveFile(path));
    }
  }

  void Count(bool removed) { ++(removed ? m_report.leftoversRemoved : m_report.leftoversKept); }

  CInstallFileSystem& m_fs;
  RecoveryReport& m_report;
};

CString Described(const char* what, size_t files) {
  CString text;
  text.Format("%s (%u files)", what, static_cast<unsigned>(files));
  return text;
}

bool LeadsThroughLink(CInstallFileSystem& fs, const CString& folder,
                      const InstallJournal& journal) {
  for (const CString& directory : journal.directories) {
    if (!HasNoLinkOnTheWay(fs, folder, directory)) return true;
  }
  for (const InstallRecord& record : journal.records) {
    if (!HasNoLinkOnTheWay(fs, folder, record.target)) return true;
  }
  return false;
}

// Acts on the journal; false when the folder must stay as it is (refused, or
// pending with the journal kept). True: no journal remains.
bool Repair(CInstallFileSystem& fs, const CString& folder, const InstallJournal& journal,
            RecoveryReport* report) {
  const CString journalPath = JoinInstallPath(folder, kJournalName);
  const size_t files = journal.records.size();
  report->outcome = RecoveryOutcome::kRolledBack;
  switch (journal.state) {
    case JournalState::kInvalid:
      report->outcome = RecoveryOutcome::kRefused;
      report->found = "a journal this updater did not write (" + journal.problem + ")";
      return false;
    case JournalState::kEmpty:
    case JournalState::kStaging:
      report->found = "a journal of an update stopped while staging";
      RemoveOwnFolder(fs, folder, kStagingFolderName, &report->leftoversRemoved,
                      &report->leftoversKept);
      break;
    case JournalState::kPrevious:
      report->found =
          journal.committing
              ? "a journal of the previous version of the updater, stopped during its "
                "commit"
              : "a journal of the previous version of the updater, stopped while staging";
      if (journal.committing || LeadsThroughLink(fs, folder, journal)) {
        report->outcome = RecoveryOutcome::kRefused;
        return false;
      }
      // Its staged files lie beside their targets anywhere in the tree.
      CSweep(fs, report).Run(folder, true, true);
      for (auto it = journal.directories.rbegin(); it != journal.directories.rend(); ++it) {
        fs.RemoveEmptyDirectory(JoinInstallPath(folder, *it));
      }
      break;
    case JournalState::kCommitting:
    case JournalState::kUndoing:
    case JournalState::kCommitted: {
      report->found =
          Described(journal.state == JournalState::kCommitted ? "a journal of a committed update"
                    : journal.state == JournalState::kUndoing
                        ? "a journal of an update stopped while it was undone"
                        : "a journal of an update stopped during its commit",
                    files);
      if (LeadsThroughLink(fs, folder, journal)) {
        report->outcome = RecoveryOutcome::kRefused;
        report->found += ", whose paths lead through a link";
        return false;
      }
      bool finish = journal.state == JournalState::kCommitted;
      if (journal.state == JournalState::kCommitting) {
        // Every move done: the new files were on the disk before the first.
        if (!RecordsApplied(fs, folder, journal.records, &finish)) {
          report->outcome = RecoveryOutcome::kPending;
          return false;
        }
        // No old copy goes before the record of it is on the disk.
        if (finish && !fs.Append(journalPath, kJournalCommittedRecord, true)) {
          report->outcome = RecoveryOutcome::kPending;
          return false;
        }
        if (!finish) fs.Append(journalPath, kJournalUndoRecord, true);
      }
      if (finish) {
        report->outcome = RecoveryOutcome::kFinished;
        report->leftoversKept += FinishInstall(fs, folder);
        return true;
      }
      if (!UndoInstall(fs, folder, journal)) {
        report->outcome = RecoveryOutcome::kPending;
        return false;
      }
      return true;
    }
  }
  if (!fs.RemoveFile(journalPath)) {
    report->outcome = RecoveryOutcome::kPending;
    return false;
  }
  return true;
}

}  // namespace

bool RecoveryReport::AllowsUpdate() const {
  return outcome != RecoveryOutcome::kPending && outcome != RecoveryOutcome::kRefused;
}

CString RecoveryReport::LogLine() const {
  CString line;
  switch (outcome) {
    case RecoveryOutcome::kNothingFound:
      break;
    case RecoveryOutcome::kRolledBack:
      line = "recovery: " + found + "; every file was put back as it was before that update";
      break;
    case RecoveryOutcome::kFinished:
      line = "recovery: " + found + "; the update was completed, every new file is in place";
      break;
    case RecoveryOutcome::kPending:
      line = "recovery: " + found +
             "; it could not be put right, the journal stays and no update "
             "is started";
      break;
    case RecoveryOutcome::kRefused:
      line = "recovery: " + found + "; it was left as it is and no update is started";
      break;
  }
  if (leftoversRemoved + leftoversKept > 0) {
    CString swept;
    swept.Format("%s%d files left by earlier runs removed, %d could not be",
                 line.IsEmpty() ? "recovery: " : "; ", leftoversRemoved, leftoversKept);
    line += swept;
  }
  return line;
}

CString RecoveryReport::Message() const {
  if (outcome == RecoveryOutcome::kPending) {
    return "Update failed.  An earlier update was interrupted and could not be put right yet; no "
           "update was started.";
  }
  if (outcome == RecoveryOutcome::kRefused) {
    return "Update failed.  The folder holds an update journal that this updater cannot use; it "
           "was left as it is and no update was started.";
  }
  return CString();
}

RecoveryReport RecoverInterruptedUpdate(CInstallFileSystem& fs, const CString& folder) {
  RecoveryReport report;
  const CString journalPath = JoinInstallPath(folder, kJournalName);
  const uint32_t attributes = fs.GetAttributes(journalPath);
  CString text;
  if (attributes == kInstallUnknown ||
      (attributes != kInstallMissing && !fs.Read(journalPath, &text))) {
    report.outcome = RecoveryOutcome::kPending;
    report.found = "a journal that cannot be read";
    return report;
  }
  if (attributes != kInstallMissing && !Repair(fs, folder, ParseJournal(text), &report)) {
    return report;
  }
  // No journal: the staging and backup folders hold nothing anyone needs.
  CSweep(fs, &report).Run(folder, true, false);
  RemoveOwnFolder(fs, folder, kStagingFolderName, &report.leftoversRemoved, &report.leftoversKept);
  RemoveOwnFolder(fs, folder, kBackupFolderName, &report.leftoversRemoved, &report.leftoversKept);
  return report;
}
