// SPDX-License-Identifier: MIT
// An eMMC is never written to: its health is the life estimate the device
// keeps itself, read from sysfs or by CMD8 (device/emmc_read.h).
#include "device/emmc_read.h"
#include "modes/modes.h"
#include "record/record.h"
#include "run/run_plan.h"
#include "state/node_history.h"

namespace sdsmart_tool {

int ReadEmmc(RunPlan &plan, RunStatus &status) {
  const Options &o = plan.Opts;
  RunRecord &run = status.Run();
  Recorder recorder(plan, status);
  EmmcLife life;
  std::string error;
  if (!ReadEmmcLife(o.Device, plan.Verdict.Name, "/sys", life, error)) {
    status.Say("error", o.Device + ": the eMMC's life estimate could not be read: " + error);
    status.Fail(kExitAcquisition);
    return Publish(plan, status);
  }
  run.Emmc = life;
  recorder.Finish(run);
  run.Health = EvaluateEmmc(life, o.Limits);
  status.Fail(VerdictExitBits(run.Health->Status));
  KeepNodeHistory(plan, status);
  return Publish(plan, status);
}

} // namespace sdsmart_tool
