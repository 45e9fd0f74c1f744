#include "benchwin/BenchModel.h"

#include <fmt/format.h>

#include <algorithm>

#include "common/ReadOnlyFile.h"
#include "station/TraceLog.h"

namespace {

constexpr char kLockedLine[] =
    "The settings are locked (Locked=1 in TARVEXBENCH.INI): the command line may give /run "
    "and /count, not the firmware, the ports or the log.";
constexpr char kLockedFirmware[] =
    "The settings are locked (Locked=1 in TARVEXBENCH.INI): the firmware cannot be changed.";
constexpr char kRunningFirmware[] =
    "The firmware cannot be changed while the bench runs: Stop it first.";
constexpr char kNoFirmware[] =
    "Choose the firmware first: File, Open..., or drop a HEX file on the window.";
constexpr char kNoPorts[] = "Tick at least one port for the bench.";
constexpr char kReady[] = "Ready: Start (F5) when the firmware and the ports are right.";
constexpr char kRunning[] = "Running: connect a pager to a port; Stop (F5) ends the bench.";
constexpr char kStopping[] = "Stopping: each pager in flash mode is told to leave it.";
constexpr char kStopped[] = "Stopped: every pager in flash mode was told to leave it.";
constexpr char kEnded[] = "The bench has ended.";
constexpr char kConfirmClose[] =
    "Pagers are being flashed. Stop the bench and close the window?\n"
    "Each pager in flash mode is told to leave it first.";

// "USB Serial Port (FTDI), serial FT5KQ2R7A", as far as it is known.
std::string TileAdapter(const PortEntry& entry) {
  std::string text = entry.adapter;
  if (!entry.serial.empty()) text += (text.empty() ? "" : ", ") + ("serial " + entry.serial);
  return text;
}

std::vector<PortEntry> Ticked(const std::vector<PortEntry>& entries) {
  std::vector<PortEntry> ticked;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(ticked),
               [](const PortEntry& entry) { return entry.ticked; });
  return ticked;
}

template <std::size_t N>
bool Offered(int value, const int (&offered)[N]) {
  return std::find(std::begin(offered), std::end(offered), value) != std::end(offered);
}

}  // namespace

BenchModel::BenchModel(IBenchView& view, std::function<std::vector<PortInfo>()> list_ports,
                       BenchStarter start, ITickSource& clock)
    : view_(view),
      list_ports_(std::move(list_ports)),
      start_(std::move(start)),
      clock_(clock),
      inbox_([&view] { view.WakeForNews(); }) {}

// A run still under way is stopped and waited for: its threads report to
// this model.
BenchModel::~BenchModel() { run_.reset(); }

bool BenchModel::Open(const std::string& directory, const BenchCommandLine& line) {
  directory_ = directory;
  settings_ = LoadBenchSettings(directory);
  if (Locked() && (line.firmware || !line.ports.empty() || line.log_path)) {
    view_.ShowMessage(std::string(kLockedLine) + "\n\n" + BenchUsageText(), kBenchCaption,
                      kStyleError);
    return false;
  }
  line_ = line;
  card_.path = line.firmware.value_or(InFolder(directory, settings_.firmware));
  card_.name = FileNameOf(card_.path);
  log_path_ = line.log_path.value_or(BenchLogPath(settings_, directory));
  entries_ = PortEntries(list_ports_(), line.ports.empty() ? settings_.ports : line.ports);
  ShowEverything();
  return true;
}

// The firmware is read once the window shows, so a refusal's box stands
// over it; a refused file starts nothing, even with /run.
void BenchModel::Shown() {
  if (!card_.path.empty()) ChooseFirmwareNow(card_.path);
  if (line_.run && card_.refusal.empty()) StartClick();
}

void BenchModel::ShowEverything() {
  view_.ShowLocked(Locked());
  view_.ShowFirmware(card_);
  view_.ShowPorts(entries_);
  view_.ShowRate(settings_.rate);
  view_.ShowResends(settings_.resends);
  view_.ShowLogPath(log_path_);
  view_.ShowTiles({});
  ShowTotals();
  view_.ShowStatus(kReady, false);
  ShowControls();
}

void BenchModel::ShowControls() {
  const bool idle = phase_ == Phase::kIdle;
  const bool free = idle && !Locked();
  view_.ShowControls({free, free, free, idle, phase_ == Phase::kRunning});
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
  ChooseFirmwareNow(path);
}

// Read and checked once: the bench flashes exactly the bytes whose figures
// and digest the window shows, whatever happens to the file afterwards.
void BenchModel::ChooseFirmwareNow(const std::string& path) {
  ReadOnlyFile file;
  const FirmwareLoad load = LoadFirmwareFile(file, path, FileSharing::kSharedRead);
  card_ = DescribeFirmware(path, load);
  firmware_ = load.firmware;
  view_.ShowFirmware(card_);
  if (!card_.loaded) view_.ShowMessage(card_.refusal + "\n\n" + path, kBenchCaption, kStyleError);
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
}

void BenchModel::ChooseRate(int rate) {
  if (!Locked() && phase_ == Phase::kIdle && Offered(rate, kBenchRates)) settings_.rate = rate;
  view_.ShowRate(settings_.rate);
}

void BenchModel::ChooseResends(int resends) {
  if (!Locked() && phase_ == Phase::kIdle && Offered(resends, kBenchResends)) {
    settings_.resends = resends;
  }
  view_.ShowResends(settings_.resends);
}

// Why the bench cannot start now; empty when it can.
std::string BenchModel::StartFault(const std::vector<PortEntry>& ticked,
                                   const std::vector<PortInfo>& present) const {
  if (!firmware_) return kNoFirmware;
  if (ticked.empty()) return kNoPorts;
  for (const PortEntry& entry : ticked) {
    const PortMatch match = ResolvePort(GivenPort(entry), present);
    if (match.ambiguous) return match.error + ".";
  }
  TraceLog log(log_path_, card_.path, card_.sha256);
  if (!log.CanAppend()) {
    return log.CannotAppendText() + "\nName another with Log= in " + kBenchSettingsFileName +
           " or /log on the command line.";
  }
  return "";
}

// A port named by its adapter's serial number whose adapter is not there
// is waited for; the core finds it once it is plugged in.
BenchPlan BenchModel::MakePlan(const std::vector<PortEntry>& ticked,
                               const std::vector<PortInfo>& present) const {
  BenchPlan plan;
  plan.count = line_.count;
  plan.log_path = log_path_;
  plan.file_name = card_.path;
  plan.sha256 = card_.sha256;
  for (const PortEntry& entry : ticked) {
    const std::string given = GivenPort(entry);
    PagerJob job;
    job.index = plan.ports.size();
    job.port = ResolvePort(given, present).name;
    job.adapter_serial = AdapterSerialFor(given, job.port, present);
    job.file_name = card_.path;
    job.firmware = firmware_;
    job.baud = settings_.rate;
    job.resend = settings_.resends;
    StationPortSetup setup{job, given, list_ports_, {}};
    setup.memory = MemoryOf(setup);
    plan.ports.push_back(setup);
  }
  return plan;
}

PortMemory BenchModel::MemoryOf(const StationPortSetup& setup) const {
  for (const std::string& key : {setup.given, setup.job.port}) {
    if (const auto found = memories_.find(key); !key.empty() && found != memories_.end()) {
      return found->second;
    }
  }
  return {};
}

void BenchModel::Remember(const StationPortSetup& setup, const PortMemory& memory) {
  for (const std::string& key : {setup.given, setup.job.port}) {
    if (!key.empty()) memories_[key] = memory;
  }
}

std::vector<TileStart> BenchModel::TileStarts(const std::vector<PortEntry>& ticked,
                                              const BenchPlan& plan) {
  std::vector<TileStart> tiles;
  for (std::size_t i = 0; i < plan.ports.size(); ++i) {
    tiles.push_back({FirstRow(plan.ports[i]), TileAdapter(ticked[i])});
  }
  return tiles;
}

void BenchModel::StartClick() {
  if (phase_ != Phase::kIdle) return;
  const std::vector<PortInfo> present = list_ports_();
  const std::vector<PortEntry> ticked = Ticked(entries_);
  if (const std::string fault = StartFault(ticked, present); !fault.empty()) {
    return view_.ShowMessage(fault, kBenchCaption, kStyleWarning);
  }
  const BenchPlan plan = MakePlan(ticked, present);
  board_.Reset(TileStarts(ticked, plan));
  std::vector<TileView> tiles;
  for (std::size_t i = 0; i < board_.Size(); ++i) tiles.push_back(board_.Tile(i));
  view_.ShowTiles(tiles);
  phase_ = Phase::kRunning;
  started_at_ = clock_.TickCount();
  stop_asked_ = log_failed_ = false;
  run_ports_ = plan.ports;
  run_ = start_(plan, inbox_);
  ShowTotals();
  view_.ShowStatus(kRunning, false);
  view_.SetTimerEnabled(true);
  ShowControls();
}

void BenchModel::StopClick() {
  if (phase_ != Phase::kRunning) return;
  stop_asked_ = true;
  phase_ = Phase::kStopping;
  run_->Stop();
  view_.ShowStatus(kStopping, false);
  ShowControls();
}

void BenchModel::StartOrStop() {
  if (phase_ == Phase::kIdle) return StartClick();
  StopClick();
}

void BenchModel::TakeNews() {
  for (const BenchInbox::News& news : inbox_.Take()) Apply(news);
}

void BenchModel::Apply(const BenchInbox::News& news) {
  if (const auto* row = std::get_if<BenchInbox::RowNews>(&news)) return ApplyRow(*row);
  if (const auto* event = std::get_if<StationEvent>(&news)) return ApplyEvent(*event);
  if (const auto* note = std::get_if<BenchInbox::NoteNews>(&news)) return ShowLogAlarm(note->text);
  RunEnded(std::get<BenchInbox::EndNews>(news));
}

// A tile is drawn again only when what it shows has changed.
void BenchModel::ApplyRow(const BenchInbox::RowNews& news) {
  if (news.index >= board_.Size()) return;
  const TileView before = board_.Tile(news.index);
  board_.ApplyRow(news.index, news.row);
  if (!(board_.Tile(news.index) == before)) view_.ShowTile(news.index, board_.Tile(news.index));
}

void BenchModel::ApplyEvent(const StationEvent& event) {
  if (event.index >= board_.Size()) return;
  const std::optional<BenchSound> sound = board_.ApplyEvent(event);
  view_.ShowTile(event.index, board_.Tile(event.index));
  ShowTotals();
  if (sound) view_.PlaySound(*sound);
}

// The core's only note: a log line that could not be written, after which
// it takes no new pagers.
void BenchModel::ShowLogAlarm(const std::string& note) {
  log_failed_ = true;
  view_.ShowStatus(note + " The bench takes no new pagers.", true);
}

void BenchModel::RunEnded(const BenchInbox::EndNews& end) {
  for (std::size_t i = 0; i < end.memories.size() && i < run_ports_.size(); ++i) {
    Remember(run_ports_[i], end.memories[i]);
  }
  elapsed_ms_ = ::ElapsedMs(started_at_, clock_.TickCount());
  phase_ = Phase::kIdle;
  run_.reset();
  view_.SetTimerEnabled(false);
  ShowTotals();
  if (!log_failed_) {
    const bool counted = line_.count > 0 && board_.Finished() >= line_.count;
    view_.ShowStatus(stop_asked_ ? kStopped
                     : counted   ? fmt::format("{} pagers finished: the count of {} is reached.",
                                               board_.Finished(), line_.count)
                                 : kEnded,
                     false);
  }
  ShowControls();
  if (std::exchange(close_pending_, false)) view_.CloseForm();
}

void BenchModel::TimerTick() {
  if (phase_ != Phase::kIdle) ShowTotals();
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

void BenchModel::Close() {
  run_.reset();
  if (Locked()) return;
  // A file named relative to the settings file stays so named.
  if (card_.path != InFolder(directory_, settings_.firmware)) settings_.firmware = card_.path;
  settings_.ports = ChosenPorts(entries_);
  if (line_.log_path) settings_.log = *line_.log_path;
  (void)SaveBenchSettings(directory_, settings_);
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
