#include "RecordFeed.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "DdsOptions.h"
#include "Diagnostics.h"
#include "EscapedText.h"
#include "RecordSamples.h"
#include "ThreadName.h"
#include "UserData.h"

namespace skarvdds {

recording::CRecordSource::EResult CFeedSession::Next(kiv::T_RawRecord& out) {
  std::unique_lock lock(mQueue->mutex);
  if (mQueue->records.empty()) {
    return mQueue->ended ? EResult::eEnd : EResult::eWait;
  }
  out = mQueue->records.front();
  mQueue->records.pop_front();
  if (mQueue->records.size() == CRecordFeed::kMaxQueuedRecords / 2) {
    lock.unlock();
    mQueue->room.notify_all();
  }
  return EResult::eRecord;
}

void CFeedSession::EndIntake() {
  mQueue->intakeEnded->store(true);
  mQueue->room.notify_all();
  // A feed that has gone already has nothing more to take: the call fails.
  dds_set_guardcondition(mQueue->wake, true);
}

CRecordFeed::CRecordFeed(const std::string& ns, const std::string& serial)
    : mTopic(TopicName(ns, "records")), mWantedSerial(serial) {
  std::string error;
  if (!mParticipant.Open(error)) {
    mError = "DDS could not be started: " + error;
    return;
  }
  // The wake first: the reader's listener may use it as soon as the reader is.
  mWaitset = dds_create_waitset(mParticipant.Handle());
  mWake = dds_create_guardcondition(mParticipant.Handle());
  dds_listener_t* listener = dds_create_listener(this);
  dds_lset_liveliness_changed(listener, &CRecordFeed::OnLivelinessChanged);
  T_EndpointExtras extras;
  extras.maxSamples = kReaderBatches;
  extras.listener = listener;
  mReader = mParticipant.CreateReader(skarv_msgs_msg_dds__RawRecordBatch__desc, mTopic, true, kKeepAll, error, extras);
  dds_delete_listener(listener);
  mReadable = mReader > 0 ? dds_create_readcondition(mReader, DDS_ANY_STATE) : -1;
  if (mReader <= 0 || mWaitset < 0 || mWake < 0 || mReadable < 0 || dds_waitset_attach(mWaitset, mReadable, 1) < 0 ||
      dds_waitset_attach(mWaitset, mWake, 0) < 0) {
    mError = "DDS could not read " + mTopic + (error.empty() ? "" : ": " + error);
    mParticipant.Close();
    return;
  }
  mThread = std::thread([this] {
    NameThisThread("dds feed");
    Run();
  });
}

CRecordFeed::~CRecordFeed() {
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
  }
  if (mThread.joinable()) {
    dds_set_guardcondition(mWake, true);
    mThread.join();
  }
  // No listener runs once the reader is deleted with the participant.
  mParticipant.Close();
}

void CRecordFeed::OnLivelinessChanged(dds_entity_t, const dds_liveliness_changed_status_t status, void* arg) {
  auto* feed = static_cast<CRecordFeed*>(arg);
  {
    std::lock_guard lock(feed->mMutex);
    if (status.alive_count_change > 0) {
      feed->mNotAlive.erase(status.last_publication_handle);
    } else if (status.alive_count_change < 0) {
      feed->mNotAlive.insert(status.last_publication_handle);
    }
  }
  dds_set_guardcondition(feed->mWake, true);
}

std::shared_ptr<CFeedSession> CRecordFeed::TakeSession() {
  std::lock_guard lock(mMutex);
  if (mPending.empty()) {
    return nullptr;
  }
  auto session = std::move(mPending.front());
  mPending.pop_front();
  return session;
}

uint32_t CRecordFeed::MatchedPublishers() const {
  dds_subscription_matched_status_t status{};
  if (!Active() || dds_get_subscription_matched_status(mReader, &status) < 0) {
    return 0;
  }
  return status.current_count;
}

std::string CRecordFeed::Summary() const {
  std::vector<std::string> parts;
  const auto count = [&](uint64_t n, const char* one, const char* many) {
    if (n > 0) {
      parts.push_back(std::to_string(n) + " " + (n == 1 ? one : many));
    }
  };
  count(LostBatches(), "batch lost", "batches lost");
  count(RepeatedBatches(), "repeated batch dropped", "repeated batches dropped");
  count(RefusedBatches(), "batch refused", "batches refused");
  count(Restarts(), "restart of the publisher", "restarts of the publisher");
  const std::string notWanted = " not sending sensor " + EscapedText(mWantedSerial) + " ignored";
  count(OtherSensorPublishers(), ("publisher" + notWanted).c_str(), ("publishers" + notWanted).c_str());
  if (parts.empty()) {
    return {};
  }
  std::string text = "From " + mTopic + ": ";
  for (size_t i = 0; i < parts.size(); ++i) {
    text += (i == 0 ? "" : ", ") + parts[i];
  }
  return text;
}

std::string CRecordFeed::NameOf(dds_instance_handle_t publisher) const {
  std::string name;
  if (dds_builtintopic_endpoint_t* data = dds_get_matched_publication_data(mReader, publisher)) {
    void* value = nullptr;
    size_t size = 0;
    if (dds_qget_userdata(data->qos, &value, &size) && value && size > 0) {
      // Its own entry; an older publisher sends nothing but its name.
      const std::string_view text(static_cast<const char*>(value), size);
      if (const auto entry = UserDataValue(text, kPublisherKey)) {
        name = EscapedText(*entry);
      } else if (!IsEntryList(text)) {
        name = EscapedText(text);
      }
    }
    dds_free(value);
    dds_builtintopic_free_endpoint(data);
  }
  if (name.empty()) {
    char text[48];
    std::snprintf(text, sizeof text, "the publisher %016" PRIx64, static_cast<uint64_t>(publisher));
    name = text;
  }
  return name;
}

void CRecordFeed::Run() {
  bool full = false;
  bool stopped = false;  // the intake has ended: nothing more is taken
  auto lastTurn = std::chrono::steady_clock::now();
  for (;;) {
    // A turn waits 100 ms at most: a longer gap means this process stood
    // still (stopped, starved), and the silence it saw is no sign that the
    // publisher has gone. It is given its time again from now.
    const auto turn = std::chrono::steady_clock::now();
    if (turn - lastTurn > std::chrono::milliseconds(kStandStillMs)) {
      mLastRecordAt = turn;
    }
    lastTurn = turn;
    {
      std::lock_guard lock(mMutex);
      if (mStopping) {
        return;
      }
    }
    if (full && mSession) {
      // The session has no room: wait for its sensor to take some, rather
      // than for the reader, which holds what the feed did not take.
      std::unique_lock lock(mSession->mutex);
      mSession->room.wait_for(lock, std::chrono::milliseconds(100), [this] {
        return mSession->records.size() <= kMaxQueuedRecords / 2 || mIntakeEnded->load();
      });
    } else {
      dds_waitset_wait(mWaitset, nullptr, 0, DDS_MSECS(100));
    }
    bool triggered = false;
    dds_take_guardcondition(mWake, &triggered);

    if (stopped) {
      continue;
    }
    if (mIntakeEnded->load()) {
      // What has reached the reader from the publisher followed still goes
      // to its session, however much it is; then nothing more.
      TakeWhatIsHeld();
      EndSession();
      // The waits from now on are for the end alone.
      dds_waitset_detach(mWaitset, mReadable);
      stopped = true;
      full = false;
      continue;
    }
    full = !TakeBatches();
    if (full) {
      // The feed is what holds the publisher up: it is there, however
      // quiet (a writer that waits for room may even seem not alive).
      mLastRecordAt = std::chrono::steady_clock::now();
    }
    if (mSession && FollowedIsGone()) {
      DiagPrintf(EDiagLevel::eAlways, "%s has stopped publishing %s.\n", mFollowedName.c_str(), mTopic.c_str());
      EndSession();
      full = false;
    }
  }
}

bool CRecordFeed::TakeBatches() {
  for (;;) {
    if (mSession) {
      std::lock_guard lock(mSession->mutex);
      if (mSession->records.size() >= kMaxQueuedRecords) {
        return false;
      }
    }
    bool taken = false;
    TakeOne(taken);
    if (!taken) {
      return true;
    }
  }
}

void CRecordFeed::TakeWhatIsHeld() {
  // The reader holds at most kReaderBatches: a publisher that goes on
  // writing as fast as DDS carries it cannot keep this going.
  bool taken = true;
  for (int32_t i = 0; i < kReaderBatches && taken; ++i) {
    TakeOne(taken);
  }
}

void CRecordFeed::TakeOne(bool& taken) {
  void* samples[1] = {};
  dds_sample_info_t info;
  const dds_return_t n = dds_take(mReader, samples, &info, 1, 1);
  taken = n > 0;
  if (!taken) {
    return;
  }
  if (info.valid_data) {
    Accept(*static_cast<const skarv_msgs_msg_dds__RawRecordBatch_*>(samples[0]), info.publication_handle);
  }
  dds_return_loan(mReader, samples, n);
}

void CRecordFeed::Follow(dds_instance_handle_t publisher, const std::string& serial) {
  mFollowed = publisher;
  mFollowedName = NameOf(publisher);
  mFollowedSerial = serial;
  mFirstBatch = true;
  mLastRecordAt = std::chrono::steady_clock::now();
  mSession = std::make_shared<CFeedSession::T_Queue>();
  mSession->wake = mWake;
  mSession->intakeEnded = mIntakeEnded;
  ++mFollowedCount;
  {
    std::lock_guard lock(mMutex);
    mPending.push_back(std::make_shared<CFeedSession>(mSession, EscapedText(serial)));
  }
  const std::string sensor = serial.empty() ? "" : " (sensor " + EscapedText(serial) + ")";
  DiagPrintf(EDiagLevel::eAlways, "Following the records of %s on %s%s.\n", mFollowedName.c_str(), mTopic.c_str(),
             sensor.c_str());
}

void CRecordFeed::EndSession() {
  if (!mSession) {
    return;
  }
  {
    std::lock_guard lock(mSession->mutex);
    mSession->ended = true;
  }
  mSession.reset();
  mFollowed = 0;
}

bool CRecordFeed::FollowedIsGone() const {
  bool alive = true;
  {
    std::lock_guard lock(mMutex);
    alive = mNotAlive.count(mFollowed) == 0;
  }
  if (alive) {
    std::vector<dds_instance_handle_t> handles(64);
    const dds_return_t n = dds_get_matched_publications(mReader, handles.data(), handles.size());
    alive = n < 0 || static_cast<size_t>(n) > handles.size() ||
            std::find(handles.begin(), handles.begin() + n, mFollowed) != handles.begin() + n;
  }
  // Records still on their way are waited for a while.
  return !alive && std::chrono::steady_clock::now() - mLastRecordAt >= std::chrono::milliseconds(kGoneAfterMs);
}

bool CRecordFeed::FromSensorFollowed(const std::string& serial, dds_instance_handle_t publisher) {
  const auto sensor = [](const std::string& text) {
    return text.empty() ? std::string("no sensor's serial number") : "sensor " + EscapedText(text);
  };
  const bool followed = mSession && publisher == mFollowed;
  if (mWantedSerial.empty() || serial == mWantedSerial) {
    if (followed && serial != mFollowedSerial) {
      // Another sensor behind the same publisher: its records are another
      // stream, played by a sensor of its own.
      DiagPrintf(EDiagLevel::eAlways, "%s now sends %s instead of %s: a new session begins.\n",
                 mFollowedName.c_str(), sensor(serial).c_str(), sensor(mFollowedSerial).c_str());
      EndSession();
    }
    return true;
  }
  if (followed) {
    EndSession();
  }
  const bool first = mOtherSensorReported.insert(publisher).second;
  if (first) {
    ++mOtherSensors;
  }
  if (first || followed) {
    DiagPrintf(EDiagLevel::eAlways, "%s sends %s, not %s: ignored.\n", NameOf(publisher).c_str(),
               sensor(serial).c_str(), EscapedText(mWantedSerial).c_str());
  }
  return false;
}

void CRecordFeed::Accept(const skarv_msgs_msg_dds__RawRecordBatch_& batch, dds_instance_handle_t publisher) {
  const std::string serial = batch.serial ? batch.serial : "";
  if (!FromSensorFollowed(serial, publisher)) {
    return;
  }
  if (!mSession) {
    Follow(publisher, serial);
  } else if (publisher != mFollowed) {
    if (mIgnoredReported.insert(publisher).second) {
      DiagPrintf(EDiagLevel::eAlways, "Another publisher of %s, %s, is ignored while %s is followed.\n",
                 mTopic.c_str(), NameOf(publisher).c_str(), mFollowedName.c_str());
    }
    return;
  }
  if (!mFirstBatch && batch.batch != mNextBatch) {
    if (batch.batch > mNextBatch) {
      mLostBatches += batch.batch - mNextBatch;
      if (!mJumpReported) {
        mJumpReported = true;
        DiagPrintf(EDiagLevel::eAlways, "Batches from %s were lost: batch %" PRIu64 " came after batch %" PRIu64 ".\n",
                   mFollowedName.c_str(), static_cast<uint64_t>(batch.batch), mNextBatch - 1);
      }
    } else if (batch.batch == 0) {
      // Its numbers begin again: the publisher started anew, and so does
      // the stream its records make.
      ++mRestarts;
      DiagPrintf(EDiagLevel::eAlways, "%s has restarted (its batches are numbered from 0 again).\n",
                 mFollowedName.c_str());
      EndSession();
      Follow(publisher, serial);
    } else {
      ++mRepeated;
      if (!mRepeatReported) {
        mRepeatReported = true;
        DiagPrintf(EDiagLevel::eAlways,
                   "A batch from %s came again and is dropped: batch %" PRIu64 " after batch %" PRIu64 ".\n",
                   mFollowedName.c_str(), static_cast<uint64_t>(batch.batch), mNextBatch - 1);
      }
      return;
    }
  }
  mFirstBatch = false;
  mNextBatch = batch.batch + 1;
  const uint32_t words = batch.words._length;
  if (words % kWordsPerRecord != 0 || words / kWordsPerRecord > kMaxBatchRecords) {
    ++mRefused;
    if (mRefusalReported.insert(publisher).second) {
      DiagPrintf(EDiagLevel::eAlways,
                 "A batch of %u words from %s is refused: a batch holds whole records of %u words, %u records at "
                 "most.\n",
                 static_cast<unsigned>(words), mFollowedName.c_str(), static_cast<unsigned>(kWordsPerRecord),
                 static_cast<unsigned>(kMaxBatchRecords));
    }
    return;
  }

  const uint32_t records = words / kWordsPerRecord;
  size_t queued = 0;
  {
    std::lock_guard lock(mSession->mutex);
    AppendRecords({batch.words._buffer, words}, mSession->records);
    queued = mSession->records.size();
  }
  mReceived += records;
  mLastRecordAt = std::chrono::steady_clock::now();
  if (queued > mPeakQueued.load()) {
    mPeakQueued = queued;
  }
}

}  // namespace skarvdds
