#include "benchwin/BenchModel.h"

#include <fmt/format.h>

#include <algorithm>

#include "benchwin/BenchStatus.h"
#include "common/ReadOnlyFile.h"
#include "station/PortLimit.h"
#include "station/TraceLog.h"

namespace {

constexpr char kLockedLine[] =
    "The settings are locked (Locked=1 in TARVEXBENCH.INI): the command line may give /run "
    "and /count, not the firmware, the ports, the log or the job.";
constexpr char kLockedFirmware[] =
    "The settings are locked (Locked=1 in TARVEXBENCH.INI): the firmware cannot be changed.";
constexpr char kRunningFirmware[] =
    "The firmware cannot be changed while the bench runs: Stop it first.";
constexpr char kSettingsPortTakenOnce[] = " The bench takes it once.";
constexpr char kSettingsLockedMend[] =
    "\nThe settings are locked: ask whoever locked them to mend the Ports= line.";
constexpr char kConfirmClose[] =
    "Pagers are being flashed. Stop the bench and close the window?\n"
    "Each pager in flash mode is told to leave it first.";

template <typename Values>
bool Offered(int value, const Values& offered) {
  return std::find(std::begin(offered), std::end(offered), value) != std::end(offered);
}

}  // namespace

BenchModel::BenchModel(IBenchView& view, std::function<std::vector<PortInfo>()> list_ports,
                       BenchStarter start, ITickSource& clock, std::string job_state_folder,
                       PortIdentityFunction port_identity)
    : view_(view),
      list_ports_(std::move(list_ports)),
      start_(std::move(start)),
      clock_(clock),
      port_identity_(std::move(port_identity)),
      inbox_([&view] { view.WakeForNews(); }),
      job_(std::move(job_state_folder)) {}

// A run still under way is stopped and waited for: its threads report to
// this model.
BenchModel::~BenchModel() { run_.reset(); }

bool BenchModel::Open(const std::string& directory, const BenchCommandLine& line) {
  directory_ = directory;
  settings_ = LoadBenchSettings(directory);
  if (Locked() && (line.firmware || !line.ports.empty() || line.log_path || line.job)) {
    view_.ShowMessage(std::string(kLockedLine) + "\n\n" + BenchUsageText(), kBenchCaption,
                      kStyleError);
    return false;
  }
  const std::vector<PortInfo> present = list_ports_();
  if (const auto twice = PortGivenTwice(line.ports, present, port_identity_)) {
    view_.ShowMessage(PortGivenTwiceText(line.ports[twice->first], line.ports[twice->second]) +
                          "\n\n" + BenchUsageText(),
                      kBenchCaption, kStyleError);
    return false;
  }
  line_ = line;
  read_settings_ = settings_;
  card_.path = line.firmware.value_or(InFolder(directory, settings_.firmware));
  card_.name = FileNameOf(card_.path);
  log_path_ = line.log_path.value_or(BenchLogPath(settings_, directory));
  job_.Name(line.job.value_or(InFolder(directory, settings_.job)),
            line.job_key.value_or(InFolder(directory, settings_.job_key)));
  std::vector<std::string> chosen = line.ports.empty() ? SettingsPorts(present) : line.ports;
  // A settings file gone wrong would start a thread for each port it names.
  if (chosen.size() > kMaxPorts) {
    view_.ShowMessage(fmt::format("{} names {} ports, and a bench takes at most {}: the first {} "
                                  "are ticked.",
                                  kBenchSettingsFileName, chosen.size(), kMaxPorts, kMaxPorts),
                      kBenchCaption, kStyleWarning);
    chosen.resize(kMaxPorts);
  }
  entries_ = PortEntries(present, chosen);
  ShowEverything();
  return true;
}

// The firmware is read once the window shows, so a refusal's box stands
// over it; a refused file or job starts nothing, even with /run.
void BenchModel::Shown() {
  if (!card_.path.empty()) ChooseFirmwareNow(card_.path);
  const bool job_refused = job_.Named() && job_.Taken() == nullptr;
  if (line_.run && card_.refusal.empty() && !job_refused) StartClick();
}

void BenchModel::ShowEverything() {
  view_.ShowLocked(Locked());
  view_.ShowFirmware(card_);
  view_.ShowPorts(entries_);
  view_.ShowRate(Rate());
  view_.ShowResends(Resends());
  view_.ShowLogPath(log_path_);
  view_.ShowTiles({});
  ShowTotals();
  ShowIdleStatus();
  ShowControls();
}

// What the bench needs before it can start, or that it is ready; a log
// alarm stays until the next Start.
void BenchModel::ShowIdleStatus() {
  if (phase_ != Phase::kIdle || log_failed_) return;
  view_.ShowStatus(IdleStatus(card_, entries_), false);
}

void BenchModel::ShowControls() {
  const bool idle = phase_ == Phase::kIdle;
  const bool free = idle && !Locked();
  // A job sets the rate and the resends.
  view_.ShowControls({free, free, free && !job_.Named(), idle, phase_ == Phase::kRunning});
}

void BenchModel::ShowSetup() {
  view_.ShowRate(Rate());
  view_.ShowResends(Resends());
  ShowControls();
}

void BenchModel::ShowTotals() { view_.ShowTotals(board_.Totals(ElapsedMs())); }

std::uint32_t BenchModel::ElapsedMs() {
  if (phase_ == Phase::kIdle) return elapsed_ms_;
  return ::ElapsedMs(started_at_, clock_.TickCount());
}

void BenchModel::OpenClick() {
  if (Locked() || phase_ != Phase::kIdle) return;
  if (const auto path = view_.RunOpenDialog(kBenchOpenFilter)) ChooseFirmware(*path);
}

void BenchModel::ChooseFirmware(const std::string& path) {
  if (Locked()) return view_.ShowMessage(kLockedFirmware, kBenchCaption, kStyleWarning);
  if (phase_ != Phase::kIdle) {
    return view_.ShowMessage(kRunningFirmware, kBenchCaption, kStyleWarning);
  }
  ChooseFirmwareNow(path, true);
}

// Read and checked once: the bench flashes exactly the bytes whose figures
// and digest the window shows, whatever happens to the file afterwards.
void BenchModel::ChooseFirmwareNow(const std::string& path, bool keep_job_firmware) {
  ReadOnlyFile file;
  const FirmwareLoad load = LoadFirmwareFile(file, path, FileSharing::kSharedRead);
  FirmwareCard card = DescribeFirmware(path, load);
  if (keep_job_firmware && job_.Named() && firmware_) {
    const std::string why = card.loaded ? job_.Check(card) : card.refusal;
    if (!why.empty()) {
      // The job stands as it did for the firmware kept.
      (void)job_.Check(card_);
      return view_.ShowMessage(why + "\n\n" + path, kBenchCaption, kStyleError);
    }
  }
  card_ = std::move(card);
  firmware_ = load.firmware;
  view_.ShowFirmware(card_);
  ShowIdleStatus();
  if (!card_.loaded) {
    return view_.ShowMessage(card_.refusal + "\n\n" + path + "\n\n" + card_.next_step,
                             kBenchCaption, kStyleError);
  }
  if (job_.Named()) (void)CheckJob();
}

bool BenchModel::CheckJob() {
  const std::string why = job_.Check(card_);
  card_.job = job_.CardLine();
  view_.ShowFirmware(card_);
  ShowSetup();
  if (why.empty()) return true;
  view_.ShowMessage(JobRefusedText(why), kBenchCaption, kStyleError);
  return false;
}

void BenchModel::DetailsClick() {
  if (card_.path.empty()) return;
  view_.ShowMessage(FirmwareDetails(card_), "Firmware " + card_.name,
                    card_.loaded ? kStyleInformation : kStyleError);
}

void BenchModel::TickPort(std::size_t index, bool ticked) {
  if (index >= entries_.size()) return;
  // The list's own tick is taken back: the choice is not the user's now.
  if (Locked() || phase_ != Phase::kIdle) return view_.ShowPorts(entries_);
  entries_[index].ticked = ticked;
  ShowIdleStatus();
}

std::string BenchModel::PortsOutOfView(std::size_t first, std::size_t shown) const {
  return TickedOutOfView(entries_, first, shown);
}

bool BenchModel::CanKeepBySerial(std::size_t index) const {
  return !Locked() && phase_ == Phase::kIdle && index < entries_.size() &&
         !entries_[index].serial.empty() && !entries_[index].name.empty();
}

void BenchModel::ToggleKeepBySerial(std::size_t index) {
  if (!CanKeepBySerial(index)) return;
  entries_[index].by_serial = !entries_[index].by_serial;
  view_.ShowPorts(entries_);
}

void BenchModel::RefreshPorts() {
  if (Locked() || phase_ != Phase::kIdle) return;
  entries_ = PortEntries(list_ports_(), ChosenPorts(entries_));
  view_.ShowPorts(entries_);
  ShowIdleStatus();
}

void BenchModel::TuneAdaptersClick() {
  const std::vector<PortInfo> present = list_ports_();
  const std::vector<PortInfo> adapters = AdaptersToTune(present);
  if (adapters.empty()) {
    return view_.ShowMessage(NothingToTuneText(present), kTuneCaption, kStyleInformation);
  }
  if (!view_.Confirm(TuneQuestion(adapters), kTuneCaption)) return;
  const ElevatedRun run = view_.RunFlasherElevated(TuneParameters(adapters));
  const TuneVerdict verdict = VerdictOf(adapters, list_ports_(), run);
  if (!verdict.status.empty()) view_.ShowStatus(verdict.status, verdict.alarm);
  view_.ShowMessage(verdict.text, kTuneCaption, verdict.alarm ? kStyleWarning : kStyleInformation);
}

void BenchModel::ChooseRate(int rate) {
  const bool free = !Locked() && !job_.Named() && phase_ == Phase::kIdle;
  if (free && Offered(rate, kBenchRates)) settings_.rate = rate;
  view_.ShowRate(Rate());
}

void BenchModel::ChooseResends(int resends) {
  const bool free = !Locked() && !job_.Named() && phase_ == Phase::kIdle;
  if (free && Offered(resends, kBenchResends)) settings_.resends = resends;
  view_.ShowResends(Resends());
}

void BenchModel::ResumePort(std::size_t index) {
  if (phase_ == Phase::kRunning && run_) run_->Resume(index);
}

// The settings' ports, each once: a port the file names twice (by hand, or
// by another program) is said once in a box and taken once.
std::vector<std::string> BenchModel::SettingsPorts(const std::vector<PortInfo>& present) {
  std::vector<std::string> ports = settings_.ports;
  std::string told;
  while (const auto twice = PortGivenTwice(ports, present, port_identity_)) {
    if (told.empty()) told = PortGivenTwiceText(ports[twice->first], ports[twice->second]);
    ports.erase(ports.begin() + static_cast<std::ptrdiff_t>(twice->second));
  }
  if (!told.empty()) {
    view_.ShowMessage(std::string(kBenchSettingsFileName) + ": " + told + kSettingsPortTakenOnce +
                          (Locked() ? kSettingsLockedMend : ""),
                      kBenchCaption, kStyleWarning);
  }
  return ports;
}

bool BenchModel::CloseQuery() {
  if (phase_ == Phase::kRunning && board_.AnyFlashing() &&
      !view_.Confirm(kConfirmClose, kBenchCaption)) {
    return false;
  }
  // The box let the bench's news in: it may have ended meanwhile.
  if (phase_ == Phase::kIdle) return true;
  StopClick();
  close_pending_ = true;
  return false;
}

// Written over the file as it is now: a change made to it while the window
// was open (a supervisor's Locked=1) is never undone.
void BenchModel::Close() {
  run_.reset();
  if (Locked()) return;
  // A file named relative to the settings file stays so named.
  if (card_.path != InFolder(directory_, settings_.firmware)) settings_.firmware = card_.path;
  settings_.ports = ChosenPorts(entries_);
  if (line_.log_path) settings_.log = *line_.log_path;
  if (line_.job) settings_.job = *line_.job;
  if (line_.job_key) settings_.job_key = *line_.job_key;
  const auto merged = SettingsToSave(read_settings_, settings_, LoadBenchSettings(directory_));
  if (merged) (void)SaveBenchSettings(directory_, *merged);
}

void BenchModel::EndSession() {
  if (run_) run_->Stop();
  Close();
}

std::unique_ptr<BenchModel> MakeBenchModel(IBenchView& view) {
  return std::make_unique<BenchModel>(
      view, ListSerialPorts,
      [](const BenchPlan& plan, BenchInbox& inbox) { return StartBenchThread(plan, inbox); });
}
