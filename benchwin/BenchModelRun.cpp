// The bench window's model, its run: whether a run may start, the plan
// the core is handed, the news it sends back, and how a run ends.
#include <fmt/format.h>

#include <algorithm>

#include "benchwin/BenchModel.h"
#include "benchwin/BenchStatus.h"
#include "station/PortLimit.h"

namespace {

constexpr char kTickedTwice[] = " are one port: untick one of them.";

std::vector<PortEntry> Ticked(const std::vector<PortEntry>& entries) {
  std::vector<PortEntry> ticked;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(ticked),
               [](const PortEntry& entry) { return entry.ticked; });
  return ticked;
}

}  // namespace

// Why the bench cannot start now; empty when it can.
std::string BenchModel::StartFault(const std::vector<PortEntry>& ticked,
                                   const std::vector<PortInfo>& present) {
  if (!firmware_) return kNoFirmwareText;
  // Checked again: the job may have expired, or another bench used it up.
  if (job_.Named()) {
    std::string why = job_.Check(card_);
    if (why.empty()) why = job_.OpenCount();
    card_.job = job_.CardLine();
    view_.ShowFirmware(card_);
    if (!why.empty()) return JobRefusedText(why);
  }
  if (ticked.empty()) return kNoPortsText;
  if (ticked.size() > kMaxPorts) {
    return fmt::format("A bench takes at most {} ports; {} are ticked: untick some.", kMaxPorts,
                       ticked.size());
  }
  for (const PortEntry& entry : ticked) {
    const PortMatch match = ResolvePort(GivenPort(entry), present);
    if (match.ambiguous) return match.error + ".";
  }
  const std::vector<std::string> chosen = ChosenPorts(ticked);
  if (const auto twice = PortGivenTwice(chosen, present, port_identity_)) {
    return chosen[twice->first] + " and " + chosen[twice->second] + kTickedTwice;
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
                               const std::vector<PortInfo>& present) {
  BenchPlan plan;
  plan.count = line_.count;
  plan.log_path = log_path_;
  plan.file_name = card_.path;
  plan.sha256 = card_.sha256;
  plan.station = settings_.station_name;
  for (const PortEntry& entry : ticked) {
    const std::string given = GivenPort(entry);
    PagerJob job;
    job.index = plan.ports.size();
    job.port = ResolvePort(given, present).name;
    job.adapter_serial = AdapterSerialFor(given, job.port, present);
    job.file_name = card_.path;
    job.firmware = firmware_;
    job.baud = Rate();
    job.resend = Resends();
    StationPortSetup setup;
    setup.job = job;
    setup.given = given;
    setup.list_ports = list_ports_;
    setup.memory = MemoryOf(setup);
    plan.ports.push_back(setup);
  }
  plan.set_aside_after = settings_.set_aside_after;
  if (job_.Count() != nullptr) {
    plan.places.push_back(job_.Count());
    plan.log_job = job_.ForLog();
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
    tiles.push_back({FirstRow(plan.ports[i]), ticked[i].adapter, ticked[i].serial});
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
  view_.ShowStatus(kRunningText, false);
  view_.SetTimerEnabled(true);
  ShowControls();
}

void BenchModel::StopClick() {
  if (phase_ != Phase::kRunning) return;
  stop_asked_ = true;
  phase_ = Phase::kStopping;
  run_->Stop();
  view_.ShowStatus(kStoppingText, false);
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

// A tile is drawn again only when what it shows has changed; a port found
// under a new name may change how another tile's name is shortened.
void BenchModel::ApplyRow(const BenchInbox::RowNews& news) {
  if (news.index >= board_.Size()) return;
  std::vector<TileView> before;
  for (std::size_t i = 0; i < board_.Size(); ++i) before.push_back(board_.Tile(i));
  board_.ApplyRow(news.index, news.row);
  for (std::size_t i = 0; i < board_.Size(); ++i) {
    if (!(board_.Tile(i) == before[i])) view_.ShowTile(i, board_.Tile(i));
  }
}

void BenchModel::ApplyEvent(const StationEvent& event) {
  if (event.index >= board_.Size()) return;
  const std::optional<BenchSound> sound = board_.ApplyEvent(event, ElapsedMs());
  view_.ShowTile(event.index, board_.Tile(event.index));
  ShowTotals();
  if (job_.Named() && event.kind != StationEventKind::kConnected) {
    card_.job = job_.CardLine();
    view_.ShowFirmware(card_);
  }
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
  const JobQuota* quota = job_.Count();
  if (quota != nullptr && !quota->Fault().empty()) {
    view_.ShowStatus(quota->Fault(), true);
  } else if (!log_failed_) {
    view_.ShowStatus(EndedText(), false);
  }
  ShowControls();
  if (std::exchange(close_pending_, false)) view_.CloseForm();
}

std::string BenchModel::EndedText() const {
  const JobQuota* quota = job_.Count();
  if (!stop_asked_ && quota != nullptr && quota->UsedUp()) {
    return QuotaReachedText(quota->Quota()) + ": the job allows no more pagers on this machine.";
  }
  return EndedStatus(stop_asked_, line_.count, board_.Finished());
}

void BenchModel::TimerTick() {
  if (phase_ != Phase::kIdle) ShowTotals();
}
