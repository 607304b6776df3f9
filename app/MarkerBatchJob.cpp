// SPDX-License-Identifier: Apache-2.0
#include "MarkerBatchJob.h"

#include <QEventLoop>
#include <QTimer>
#include <QtConcurrent>

#include <atomic>
#include <mutex>
#include <optional>

struct MarkerBatchJob::State {
  std::mutex mutex;
  std::vector<std::optional<TarnWorkflow::ShotDetection>> results;
  std::atomic<bool> cancel{false};
};

MarkerBatchJob::MarkerBatchJob(std::vector<TarnWorkflow::ShotPair> pairs, TarnWorkflow::Centre centre)
    : state(std::make_shared<State>()) {
  state->results.resize(pairs.size());
  // The worker holds the state, not the job: it may outlive a cancelled job.
  QtConcurrent::run([state = state, pairs = std::move(pairs), centre] {
    TarnWorkflow::BatchOptions options;
    options.centre = centre;
    options.cancel = &state->cancel;
    options.onShot = [&state](const TarnWorkflow::ShotDetection& detection, std::size_t index, std::size_t) {
      const std::lock_guard<std::mutex> lock(state->mutex);
      state->results[index] = detection;
    };
    TarnWorkflow::DetectShots(pairs, options);
  });
}

MarkerBatchJob::~MarkerBatchJob() { state->cancel = true; }

std::unique_ptr<TarnWorkflow::ShotDetection> MarkerBatchJob::WaitFor(std::size_t index,
                                                                     const std::function<bool()>& stop) {
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(state->mutex);
      if (state->results.at(index)) return std::make_unique<TarnWorkflow::ShotDetection>(*state->results[index]);
    }
    if (stop()) return nullptr;
    QEventLoop pause;
    QTimer::singleShot(10, &pause, &QEventLoop::quit);
    pause.exec();
  }
}
