// What a front end puts together below the operator side, in two stages:
//
//   RadioLink          the radios (real USB through libusb, or simulated ones for --sim), the
//                      one transport and the port list. Made while the start-up scans the
//                      ports, because that scan decides the single-instance rule.
//   OperationAssembly  the current package's restrictions, the threaded runner, the
//                      operation controller and the remote control services, over a
//                      RadioLink and the start-up state; on request the remote control
//                      listener over those services.
//
// The front end owns the start-up state, the window port and both objects; it destroys the
// assembly before the link and both before the state and the port.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/operation_controller.h"
#include "app/operation_runner_impl.h"
#include "app/remote_control_server.h"
#include "app/remote_services_impl.h"
#include "app/startup.h"
#include "common/status.h"
#include "link/port_list.h"
#include "link/port_store.h"
#include "link/usb_backend.h"
#include "link/usb_transport.h"
#include "package/fud_reader.h"
#include "package/package_restrictions.h"

namespace lw {

namespace sim {
class SimulatedBackend;
}
class ReplayBackend;

class RadioLink {
 public:
  // Radios from `simProfiles` when it is not empty (files, or names of profiles in the
  // program directory's "sim/" folder), else real USB with the identifiers, answer checks and
  // communication log of `settings`. An error when that cannot be done.
  static Result<std::unique_ptr<RadioLink>> Open(const std::string& programDir, const ProgramSettings& settings,
                                                 const std::vector<std::string>& simProfiles);
  // The radio of a recorded session: `commLog` (a Comm.log this program wrote) played back as
  // one radio (see link/replay_backend.h). The trace is off while replaying, so that the
  // recording is never overwritten by its own replay. An error when the log cannot be read.
  static Result<std::unique_ptr<RadioLink>> OpenReplay(const std::string& programDir, const ProgramSettings& settings,
                                                       const std::string& commLog);
  // No radios at all (real USB could not be opened): the window still runs and says why.
  static std::unique_ptr<RadioLink> WithoutRadios(const std::string& programDir, const ProgramSettings& settings);
  ~RadioLink();

  UsbBackend& backend() { return *backend_; }
  // The simulated radios, or null when the link is real USB.
  sim::SimulatedBackend* simulated() { return simulated_; }
  // The recorded session being replayed, or null.
  ReplayBackend* replay() { return replay_; }
  UsbTransport& transport() { return *transport_; }
  // Sends the communication trace to `path` instead of the program directory's Comm.log.
  void SetTracePath(const std::string& path);
  PortList& ports() { return *ports_; }
  // RefreshPortList, remembering that the list has been filled from a scan at least once.
  // Returns the class flag (1: radios of the primary class were found).
  int Scan();
  // Scan with the radio of `wanted` ("USB(NNN)") selected without probing others when present.
  int Scan(const std::string& wanted);
  bool scanned() const { return scanned_; }

  // Called after a radio arrived or left, on a thread of the backend: hand it over to the
  // user-interface thread, which refreshes the port list when no operation holds the radio.
  // An empty function stops the notifications.
  void SetHotplugHandler(std::function<void()> handler);

 private:
  RadioLink(std::unique_ptr<UsbBackend> backend, sim::SimulatedBackend* simulated, bool simulatedStore,
            const std::string& programDir, const ProgramSettings& settings);

  std::unique_ptr<UsbBackend> backend_;
  sim::SimulatedBackend* simulated_ = nullptr;
  ReplayBackend* replay_ = nullptr;
  std::unique_ptr<PortStore> store_;
  std::unique_ptr<UsbTransport> transport_;
  std::unique_ptr<PortList> ports_;
  bool scanned_ = false;
};

// The settings of a run that replays a recording: the recording is the radio, so nothing may
// overwrite it (the trace is off), and what depends on the day (the programmed date of the
// head, unless set.ini fixes one) takes the day it was recorded on.
void UseReplaySettings(ProgramSettings& settings, const ReplayBackend& replay);

class OperationAssembly {
 public:
  // `state` and `port` outlive the assembly. `conversionDigest`: the digest of the conversion
  // library the program was built with (BuiltConversionDigest of the executable).
  OperationAssembly(StartupState& state, RadioLink& link, WindowPort& port, std::string conversionDigest);
  ~OperationAssembly();

  OperationController& controller() { return *controller_; }
  UpgradeRunner& runner() { return *runner_; }
  const PackageRestrictions& restrictions() const { return restrictions_; }

  // The package path of the window changed: LoadPackage into the restrictions, and the path
  // the upgrade worker opens. An empty path goes back to set.ini's rules, and the worker then
  // looks the package up by the radio's model. A package that cannot be read keeps its path
  // (the upgrade then reports why) with the display cleared. The operator's upgrade worker
  // reads a copy taken at its start, so this may run during it (the package it looked up);
  // never during a remote upgrade, which reads them in place.
  PackageStatus ChoosePackage(const std::string& path);
  const std::string& packagePath() const { return packagePath_; }

  // The backup folder changed (menu "Backup File Storage Path"). The upgrade worker writes
  // backups to it from the next operation on; false, changing nothing, while one runs (the
  // operator's or a remote one).
  bool SetBackupDirectory(const std::string& directory);

  // For tests: replace the conversion library and the pauses of the runner (see RunnerSetup).
  // Only while no operation runs.
  void ConfigureRunner(const std::function<void(RunnerSetup&)>& change);

  // The answers to remote requests, over the same runner state, controller and port list.
  // While it holds the radio (remote().Busy()) the front end starts no operation of its own,
  // does not probe the ports and does not change the package or the backup folder.
  RemoteServicesImpl& remote() { return *remote_; }
  // Starts the remote control listener over remote() (the window port logs the requests).
  // False, with the set-up failure printed, when it cannot listen. Once only.
  bool StartRemoteServer(const RemoteServerOptions& options);
  // The listener, or null before StartRemoteServer succeeded.
  RemoteControlServer* remoteServer() { return server_.get(); }
  // Stops the listener and the remote upgrade it runs, waiting for them. A handler waiting for
  // the user-interface thread gives up once the stop begins, so this may be called there.
  // Idempotent; the destructor does it too.
  void StopRemoteServer();

 private:
  class Forwarder;
  RunnerSetup Setup() const;
  void Rebuild();

  StartupState& state_;
  RadioLink& link_;
  WindowPort& port_;
  std::string conversionDigest_;
  std::function<void(RunnerSetup&)> setupChange_;
  PackageRestrictions restrictions_;
  std::string packagePath_;
  std::unique_ptr<UpgradeRunner> runner_;
  std::unique_ptr<Forwarder> forwarder_;
  std::unique_ptr<OperationController> controller_;
  std::unique_ptr<RemoteServicesImpl> remote_;
  std::unique_ptr<RemoteControlServer> server_;
};

}  // namespace lw
