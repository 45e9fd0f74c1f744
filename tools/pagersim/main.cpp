// pagersim: command-line front end of the emulated pager loader.
#include <cstdio>
#include <string>
#include <vector>

#include "PagerSim.h"
#include "PagerSystem.h"

namespace {

using pagersim::PagerOptions;
using pagersim::PagerSim;

constexpr int kExitOk = 0;
constexpr int kExitRuntimeError = 1;
constexpr int kExitBadOptions = 2;

int Fail(int code, const std::string& err) {
  std::fprintf(stderr, "pagersim: %s\n", err.c_str());
  return code;
}

void ReportOutputs(PagerSim& sim) {
  std::string err;
  if (!sim.WriteOutputs(&err)) std::fprintf(stderr, "pagersim: %s\n", err.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = pagersim::ProgramArguments(argc, argv);
  std::vector<const char*> argument_texts;
  for (const std::string& argument : arguments) argument_texts.push_back(argument.c_str());
  PagerOptions options;
  std::string err;
  if (!pagersim::ParsePagerOptions(static_cast<int>(argument_texts.size()), argument_texts.data(),
                                   options, err)) {
    return Fail(kExitBadOptions, err + "\nTry 'pagersim --help' for the list of options.");
  }
  if (options.show_help) {
    std::fputs(pagersim::PagerUsage().c_str(), stdout);
    return kExitOk;
  }
  if (options.show_version) {
    std::puts("pagersim " PAGERSIM_VERSION);
    return kExitOk;
  }
  if (const std::string refusal = pagersim::RefusalOnThisSystem(options); !refusal.empty()) {
    return Fail(kExitBadOptions, refusal);
  }
  if (!pagersim::CatchStopRequests(&err)) return Fail(kExitRuntimeError, err);
  PagerSim sim(options);
  if (options.verbose) {
    sim.SetEventObserver([](const pagersim::LogEvent& event) {
      std::fprintf(stderr, "%s\n", pagersim::FormatLogEvent(event).c_str());
    });
  }
  if (!sim.Start(&err)) return Fail(kExitRuntimeError, err);
  pagersim::LineLink link;
  if (!options.link_path.empty() && !link.Create(options.link_path, sim.SlavePath(), &err)) {
    sim.Stop();
    return Fail(kExitRuntimeError, err);
  }
  std::printf("%s\n", sim.SlavePath().c_str());
  std::fflush(stdout);

  pagersim::WaitForStop(
      options.stdin_stop, [&sim] { return sim.Finished(); }, [&sim] { ReportOutputs(sim); });
  sim.Stop();
  link.Remove();
  if (!sim.WriteOutputs(&err)) return Fail(kExitRuntimeError, err);
  return kExitOk;
}
