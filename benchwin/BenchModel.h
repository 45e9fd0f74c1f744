// The bench window's decisions, apart from any GUI toolkit: the firmware
// chosen and checked, the ports ticked, the rate and resends, Start and
// Stop, the tiles and totals, the settings file, the command line, locked
// settings and closing. The window forwards its events here and draws what
// the model asks of it through IBenchView; the bench core runs on threads
// of its own, and its news come back through the inbox on the window's
// thread (TakeNews).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "benchwin/AdapterTune.h"
#include "benchwin/BenchBoard.h"
#include "benchwin/BenchCommandLine.h"
#include "benchwin/BenchJob.h"
#include "benchwin/BenchRun.h"
#include "benchwin/BenchSettings.h"
#include "benchwin/FirmwareCard.h"
#include "benchwin/PortChoice.h"
#include "common/Clock.h"
#include "common/GuiServices.h"

// Which of the window's controls may be used now.
struct BenchControls {
  bool choose_firmware = false;  // File, Open... and dropping a file
  bool ports = false;            // ticking, keeping by serial, refreshing
  bool setup = false;            // rate and resends
  bool start = false;
  bool stop = false;
  friend bool operator==(const BenchControls&, const BenchControls&) = default;
};

class IBenchView {
 public:
  virtual ~IBenchView() = default;
  virtual void ShowFirmware(const FirmwareCard& card) = 0;
  virtual void ShowPorts(const std::vector<PortEntry>& entries) = 0;
  virtual void ShowRate(int rate) = 0;
  virtual void ShowResends(int resends) = 0;
  virtual void ShowLogPath(const std::string& path) = 0;
  virtual void ShowLocked(bool locked) = 0;
  virtual void ShowControls(const BenchControls& controls) = 0;
  // A tile per bench port, made afresh; then each tile as it changes.
  virtual void ShowTiles(const std::vector<TileView>& tiles) = 0;
  virtual void ShowTile(std::size_t index, const TileView& tile) = 0;
  virtual void ShowTotals(const TotalsView& totals) = 0;
  // The line under the totals; `alarm` draws it in red.
  virtual void ShowStatus(const std::string& text, bool alarm) = 0;
  virtual void PlaySound(BenchSound sound) = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  // The chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> RunOpenDialog(const std::string& filter) = 0;
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           std::uint32_t style) = 0;
  // A box with Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
  // Asks the window to close; the window then calls CloseQuery and, when
  // that allows it, Close.
  virtual void CloseForm() = 0;
  // Runs tarvex-flash.exe from the program's folder with `parameters`
  // elevated (Windows asks for an administrator's consent) and waits for it
  // to end.
  virtual ElevatedRun RunFlasherElevated(const std::string& parameters) = 0;
  // Called on the bench's threads: the window's thread is to call TakeNews
  // soon. Must not wait for the window's thread.
  virtual void WakeForNews() = 0;
};

constexpr char kBenchCaption[] = "Tarvex Bench";
constexpr char kBenchOpenFilter[] = "HEX files (*.hex)|*.hex|All files (*.*)|*.*";

class BenchModel {
 public:
  // `list_ports` gives the ports present (ListSerialPorts in the program);
  // `start` runs a plan (StartBenchThread); `clock` times the totals; a
  // job's count is kept in `job_state_folder`; `port_identity` tells which
  // names are one port (PortIdentity).
  BenchModel(IBenchView& view, std::function<std::vector<PortInfo>()> list_ports,
             BenchStarter start, ITickSource& clock = SystemTickSource(),
             std::string job_state_folder = JobStateFolder(),
             PortIdentityFunction port_identity = PortIdentity);
  ~BenchModel();
  BenchModel(const BenchModel&) = delete;
  BenchModel& operator=(const BenchModel&) = delete;

  // Reads the settings file of `directory` and applies `line` over it; with
  // locked settings a command line naming the firmware, ports or log is
  // refused. False, after a box naming the fault, when the window is not to
  // open. A "/run" line starts the bench once the window shows (Shown).
  bool Open(const std::string& directory, const BenchCommandLine& line);
  void Shown();

  void OpenClick();
  // A file dropped on the window, or named on the command line: read and
  // checked at once, as File, Open... does.
  void ChooseFirmware(const std::string& path);
  void DetailsClick();
  void TickPort(std::size_t index, bool ticked);
  // Keeps the port by its adapter's serial number, or by its name again.
  void ToggleKeepBySerial(std::size_t index);
  bool CanKeepBySerial(std::size_t index) const;
  void RefreshPorts();
  // Setup, Tune adapters…, and the link on a slow port's tile: sets the
  // latency timer of the FTDI adapters plugged in to 1 ms, once the user
  // has said yes and Windows has had an administrator's consent. Allowed
  // while the bench runs: the new timer takes effect only when an adapter
  // is plugged in again, and its port is then found again as any pulled
  // adapter's is.
  void TuneAdaptersClick();
  // What the port list says under itself when it shows the rows [first,
  // first + shown): the ticked ports out of view, or nothing.
  std::string PortsOutOfView(std::size_t first, std::size_t shown) const;
  void ChooseRate(int rate);
  void ChooseResends(int resends);
  // The technician resumes a port set aside, on its tile.
  void ResumePort(std::size_t index);

  void StartClick();
  void StopClick();
  // F5: Start when idle, Stop when running.
  void StartOrStop();

  void TakeNews();
  void TimerTick();

  // Whether the window may close now. A bench running is stopped first (a
  // close during a transfer asks before): each pager in flash mode is told
  // to leave it, and the window closes once every port loop has ended.
  bool CloseQuery();
  // Saves the settings, unless they are locked.
  void Close();
  // Windows is ending the session and ends the program once this returns:
  // the bench is stopped and waited for here, each pager in flash mode told
  // to leave it, and the settings are saved.
  void EndSession();

  BenchInbox& Inbox() { return inbox_; }

 private:
  enum class Phase : std::uint8_t { kIdle, kRunning, kStopping };

  // With `keep_job_firmware`, a file that is not the job's is refused and
  // the firmware stays as it was.
  void ChooseFirmwareNow(const std::string& path, bool keep_job_firmware = false);
  // Checks the job for the card and shows what it says; false, after a box
  // saying why, when it is refused.
  bool CheckJob();
  void ShowSetup();
  int Rate() const { return job_.Taken() ? job_.Taken()->rate : settings_.rate; }
  int Resends() const { return job_.Taken() ? job_.Taken()->resends : settings_.resends; }
  std::string EndedText() const;
  void ShowEverything();
  void ShowIdleStatus();
  void ShowControls();
  void ShowTotals();
  std::vector<std::string> SettingsPorts(const std::vector<PortInfo>& present);
  // Each takes the ticked entries once, so the plan's ports and the tiles
  // stand in one order.
  // Under a job, checks it again and opens its count.
  std::string StartFault(const std::vector<PortEntry>& ticked,
                         const std::vector<PortInfo>& present);
  BenchPlan MakePlan(const std::vector<PortEntry>& ticked, const std::vector<PortInfo>& present);
  static std::vector<TileStart> TileStarts(const std::vector<PortEntry>& ticked,
                                           const BenchPlan& plan);
  void Apply(const BenchInbox::News& news);
  void ApplyRow(const BenchInbox::RowNews& news);
  void ApplyEvent(const StationEvent& event);
  void ShowLogAlarm(const std::string& note);
  void RunEnded(const BenchInbox::EndNews& end);
  // What the last run on a port handed on, by the port as given and as
  // found, so a pager left on the cable is waited for to go.
  PortMemory MemoryOf(const StationPortSetup& setup) const;
  void Remember(const StationPortSetup& setup, const PortMemory& memory);
  std::uint32_t ElapsedMs();
  bool Locked() const { return settings_.locked; }

  IBenchView& view_;
  std::function<std::vector<PortInfo>()> list_ports_;
  BenchStarter start_;
  ITickSource& clock_;
  PortIdentityFunction port_identity_;
  BenchInbox inbox_;
  std::string directory_;
  BenchSettings settings_;
  // The settings as read at Open, to tell what others changed since.
  BenchSettings read_settings_;
  BenchCommandLine line_;
  std::string log_path_;
  FirmwareCard card_;
  BenchJob job_;
  std::shared_ptr<const CheckedFirmware> firmware_;
  std::vector<PortEntry> entries_;
  BenchBoard board_;
  std::unique_ptr<IBenchRun> run_;
  // The ports of the run under way, in its plan's order.
  std::vector<StationPortSetup> run_ports_;
  std::map<std::string, PortMemory> memories_;
  Phase phase_ = Phase::kIdle;
  std::uint32_t started_at_ = 0;
  std::uint32_t elapsed_ms_ = 0;
  bool stop_asked_ = false;
  bool log_failed_ = false;
  bool close_pending_ = false;
};

// The model of the program: the ports present from the system, each run on
// a thread of its own.
std::unique_ptr<BenchModel> MakeBenchModel(IBenchView& view);
