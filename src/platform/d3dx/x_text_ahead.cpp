// The text reader's long arrays read in stretches on the worker pool's threads (see
// TextLexer::ReadAhead).
#include <algorithm>

#include "platform/d3dx/x_lexer.h"
#include "platform/worker_pool.h"

namespace wz::d3dx::xlex {

void TextLexer::ReadAhead(Kind kind, uint64_t expected) {
  Drop();
  try {
    StartStretches(kind, expected);
  } catch (...) {  // out of memory: the array is read here
    Drop();
  }
}

void TextLexer::StartStretches(Kind kind, uint64_t expected) {
  const size_t minRun = std::max<size_t>(threads_.minBytesPerRun, 64);
  const unsigned workers = platform::WorkerCount();
  if (failed() || threads_.maxRuns == 1 || (threads_.maxRuns == 0 && workers == 0) ||
      remaining() >= (size_t{1} << 31) || remaining() < 2 * minRun) {
    return;
  }
  // Bytes per number, from the numbers that begin in 4 KB at the start and, where they are there,
  // in 4 KB at the middle of the array so estimated (numbers often grow along an array).
  auto perNumber = [&](const uint8_t* at) {
    const size_t sample = std::min<size_t>(size_t(end_ - at), 4096);
    size_t starts = 0;
    for (size_t i = 1; i < sample; ++i)
      starts += IsNumberStart(at[i]) && (kClass[at[i - 1]] & (kWhite | kSep));
    return starts < 16 ? 0.0 : double(sample) / double(starts);
  };
  double per = perNumber(p_);
  if (per == 0) return;
  const double middle = double(expected) * per / 2;
  if (middle < double(remaining())) per = std::max(per, perNumber(p_ + size_t(middle)));
  const size_t total = size_t(std::min(double(remaining()), double(expected) * per));
  // Four stretches for each thread, so that the reader waits for a small one at most.
  const size_t runs =
      std::min<size_t>(threads_.maxRuns ? threads_.maxRuns : 4 * (workers + 1), total / minRun);
  if (runs < 2) return;
  // Each further stretch begins at a number that follows white space or a separator.
  std::vector<const uint8_t*> starts = {p_};
  for (size_t k = 1; k < runs; ++k) {
    const uint8_t* at = std::max(starts.back() + 1, p_ + total * k / runs);
    const uint8_t* limit = std::min(end_, at + 4096);
    while (at < limit && !(IsNumberStart(*at) && (kClass[at[-1]] & (kWhite | kSep))))
      ++at;
    if (at == limit) break;
    starts.push_back(at);
  }
  if (starts.size() < 2) return;
  auto shared = std::make_shared<Stretches>();
  shared->kind = kind;
  shared->begin = begin_;
  shared->end = end_;
  shared->inflated = inflated_;
  for (size_t k = 0; k < starts.size(); ++k) {
    auto& r = shared->runs.emplace_back(std::make_unique<Run>());
    r->start = starts[k];
    r->stop = k + 1 < starts.size() ? starts[k + 1] : end_;
  }
  // Until the reader gets there, the last stretch stops a tenth past its share of the array.
  const double before = double(starts.back() - p_) / per;
  shared->runs.back()->limit = uint64_t(std::max(0.0, (double(expected) - before) * 1.1)) + 16;
  shared->back = starts.size();
  auto ahead = std::make_unique<ReaderSide>();
  ahead->shared = shared;
  ahead->expected = expected;
  size_t posted = 0;
  for (; posted < std::max<size_t>(workers, 1) && posted + 1 < starts.size(); ++posted) {
    if (!platform::PostWork([shared] { TakeStretches(*shared); })) break;
  }
  // Without a task, every stretch is read here.
  if (posted == 0) return;
  aheadKind_ = kind;
  hereStop_ = starts[1];
  takenHere_ = 0;
  ahead_ = std::move(ahead);
}

// A pool task: reads stretches from the last one down until the reader has taken one for itself
// (all below it are then the reader's) or none is left.
void TextLexer::TakeStretches(Stretches& s) {
  while (true) {
    const size_t back = s.back.fetch_sub(1, std::memory_order_relaxed);
    if (back <= 1 || back > s.runs.size()) return;  // runs[0] is the reader's
    Run& run = *s.runs[back - 1];
    int state = kPending;
    if (!run.state.compare_exchange_strong(state, kReading)) return;
    ReadRun(s, run);
    run.state.store(kDone, std::memory_order_release);
    run.state.notify_all();
  }
}

// Reads numbers of the stretches' kind from run.start until run.stop, a token that is not a
// number, a refusal or the run's limit. Writes nothing but `run`.
void TextLexer::ReadRun(const Stretches& s, Run& run) {
  TextLexer lex(s.begin, size_t(s.end - s.begin), s.inflated, XThreads{0, 1});
  lex.p_ = run.start;
  std::vector<uint32_t> values, ends;
  try {
    const size_t guess = size_t(std::min<uint64_t>(run.limit, uint64_t(run.stop - run.start) / 2));
    values.reserve(guess);
    ends.reserve(guess);
    while (values.size() < run.limit.load(std::memory_order_relaxed)) {
      lex.SkipFiller();
      if (lex.p_ >= run.stop || !IsNumberStart(*lex.p_)) break;
      uint32_t bits;
      if (s.kind == Kind::UInt) {
        if (!lex.ScanUInt(bits)) break;
      } else {
        float f;
        if (!lex.ScanFloat(f)) break;
        bits = std::bit_cast<uint32_t>(f);
      }
      values.push_back(bits);
      ends.push_back(uint32_t(lex.p_ - run.start));
    }
  } catch (...) {  // out of memory: the reader reads on from the last number kept
  }
  const size_t kept = std::min(values.size(), ends.size());
  values.resize(kept);
  ends.resize(kept);
  run.values = std::move(values);
  run.ends = std::move(ends);
}

// The reader has come to the end of the stretch it is in: it goes on into the next one if it
// stands exactly at its start, and drops the stretches otherwise.
bool TextLexer::NextStretch(Kind kind, uint32_t& bits) {
  ReaderSide& a = *ahead_;
  if (failed() || kind != a.shared->kind) return Drop();
  auto& runs = a.shared->runs;
  if (takeBase_ == nullptr) {
    a.taken += takenHere_;
    takenHere_ = 0;
  } else {
    // A stretch that stopped short of the next one's start (a refusal, a token that is no
    // number) leaves the reader short of it too.
    if (take_ != takeEnd_ || p_ != takeAt_) return Drop();
    a.taken += runs[a.run]->values.size();
    SkipFiller();
  }
  const size_t k = a.run + 1;
  if (k >= runs.size() || p_ != runs[k]->start) return Drop();
  Run& r = *runs[k];
  a.run = k;
  // The last stretch need not read past the array's end, now that its share is known.
  if (k + 1 == runs.size()) r.limit = a.expected > a.taken ? a.expected - a.taken : 0;
  take_ = takeEnd_ = takeEnds_ = nullptr;
  takeBase_ = takeAt_ = nullptr;
  int state = kPending;
  if (!threads_.waitForStretches && r.state.compare_exchange_strong(state, kCancelled)) {
    // No task has begun this stretch: it is read here (a task coming down to it stops).
    if (k + 1 == runs.size()) return Drop();
    hereStop_ = runs[k + 1]->start;
    ++takenHere_;
    return false;
  }
  while ((state = r.state.load(std::memory_order_acquire)) == kPending || state == kReading)
    r.state.wait(state);
  if (state != kDone) return Drop();
  take_ = r.values.data();
  takeEnd_ = take_ + r.values.size();
  takeEnds_ = r.ends.data();
  takeBase_ = takeAt_ = r.start;
  return Ahead(kind, bits);
}

}  // namespace wz::d3dx::xlex
