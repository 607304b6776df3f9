// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "MarkerBatch.h"

#include <functional>
#include <memory>
#include <vector>

/// The marker batch of "计算标记位置" on worker threads (one per core), so that the window stays painted
/// and "取消" takes effect at once. The window waits for the shots in pair order, processing its events
/// meanwhile; a cancelled or abandoned job finishes the shots it has started on its own and its results
/// are dropped.
class MarkerBatchJob {
 public:
  MarkerBatchJob(std::vector<TarnWorkflow::ShotPair> pairs, TarnWorkflow::Centre centre);
  /// Stops starting shots; the job ends once the running ones do.
  ~MarkerBatchJob();
  MarkerBatchJob(const MarkerBatchJob&) = delete;
  MarkerBatchJob& operator=(const MarkerBatchJob&) = delete;

  /// Waits for shot `index`, processing the window's events, until it is done or `stop` says to give up
  /// (asked every few milliseconds). The detection, or nothing when given up.
  std::unique_ptr<TarnWorkflow::ShotDetection> WaitFor(std::size_t index, const std::function<bool()>& stop);

 private:
  struct State;
  std::shared_ptr<State> state;
};
