#include "Runtime.h"
#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace iotc::test {
namespace {

using SessionTest = RelayTest;

// Writes `total` bytes of `stream` in uneven pieces (some larger than one frame), retrying
// while the send queue is full.
void writeStream(int rdtId, uint32_t stream, size_t total) {
    std::vector<char> piece(100'000);
    size_t sent = 0;
    for (size_t round = 0; sent < total; ++round) {
        const size_t n = std::min(total - sent, 1 + (round * 7919) % piece.size());
        fillStream(stream, sent, piece.data(), n);
        const int result = RDT_Write(rdtId, piece.data(), static_cast<int>(n));
        if (result == RDT_ER_SEND_QUEUE_FULL) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        ASSERT_EQ(result, static_cast<int>(n));
        sent += n;
    }
}

// Reads `total` bytes and checks each against `stream`.
void readStream(int rdtId, uint32_t stream, size_t total) {
    std::vector<char> buffer(30'000);
    size_t received = 0;
    while (received < total) {
        const int n = RDT_Read(rdtId, buffer.data(), static_cast<int>(buffer.size()), 2000);
        ASSERT_GT(n, 0) << "stream " << stream << " after " << received << " bytes";
        const size_t at = firstMismatch(stream, received, buffer.data(), static_cast<size_t>(n));
        ASSERT_EQ(at, static_cast<size_t>(n)) << "stream " << stream << " byte " << received + at;
        received += static_cast<size_t>(n);
    }
}

TEST_F(SessionTest, TwoChannelsCarryIndependentOrderedStreamsBothWays) {
    constexpr size_t kBytes = 5'000'000;
    const auto pair = connectPair("cam-streams");
    const auto first = openChannel(pair, 0);
    const auto second = openChannel(pair, 9);

    // Each side writes both of its channels from one thread, so a full queue on one channel
    // must not hold up the other; four readers check four distinct streams.
    auto writeBoth = [](int a, uint32_t streamA, int b, uint32_t streamB) {
        std::thread other([=] { writeStream(b, streamB, kBytes); });
        writeStream(a, streamA, kBytes);
        other.join();
    };
    std::vector<std::thread> threads;
    threads.emplace_back(writeBoth, first.client, 1, second.client, 2);
    threads.emplace_back(writeBoth, first.camera, 3, second.camera, 4);
    threads.emplace_back(readStream, first.camera, 1, kBytes);
    threads.emplace_back(readStream, second.camera, 2, kBytes);
    threads.emplace_back(readStream, first.client, 3, kBytes);
    threads.emplace_back(readStream, second.client, 4, kBytes);
    for (auto& thread : threads)
        thread.join();

    char extra;
    EXPECT_EQ(RDT_Read(first.camera, &extra, 1, 50), RDT_ER_TIMEOUT);
    EXPECT_GE(m_relay->stats().bytesForwarded, 4 * kBytes);
}

TEST_F(SessionTest, ConnectReportsWhyItFailed) {
    EXPECT_EQ(IOTC_Connect_ByUID("nobody-here"), IOTC_ER_DEVICE_OFFLINE);
    EXPECT_EQ(IOTC_Connect_ByUID("has space"), IOTC_ER_INVALID_ARG);

    m_relay->stop();
    const auto start = Clock::now();
    EXPECT_EQ(IOTC_Connect_ByUID("cam-1"), IOTC_ER_RELAY_UNREACHABLE);
    EXPECT_EQ(IOTC_Device_Login("cam-1"), IOTC_ER_RELAY_UNREACHABLE);
    EXPECT_LT(msSince(start), 500u);
}

TEST_F(SessionTest, AUidIsHeldByOneCameraUntilItLogsOut) {
    const int first = IOTC_Device_Login("cam-dup");
    ASSERT_GE(first, 0);
    EXPECT_EQ(IOTC_Device_Login("cam-dup"), IOTC_ER_UID_IN_USE);

    IOTC_Device_Logout(first);
    EXPECT_EQ(IOTC_Listen(first, 0), IOTC_ER_INVALID_ARG);
    // The relay forgets the registration once it sees the connection close.
    int second = IOTC_ER_UID_IN_USE;
    for (int i = 0; i < 100 && second == IOTC_ER_UID_IN_USE; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        second = IOTC_Device_Login("cam-dup");
    }
    EXPECT_GE(second, 0);
    EXPECT_NE(second, first);
}

TEST_F(SessionTest, ReadBeforeThePeerCreatesItsSideAndAfterItDestroysIt) {
    const auto pair = connectPair("cam-early");
    // The camera gives up first; its wish to open stays with the client.
    EXPECT_EQ(RDT_Create(pair.camera, 50, 3), RDT_ER_TIMEOUT);
    const int client = RDT_Create(pair.client, 1000, 3);
    ASSERT_GE(client, 0);
    RdtStatus status{};
    ASSERT_EQ(RDT_Status_Check(client, &status), 0);
    EXPECT_EQ(status.peerOpen, 0u);
    char buffer[64];
    EXPECT_EQ(RDT_Read(client, buffer, sizeof buffer, 50), RDT_ER_REMOTE_NOT_READY);
    ASSERT_EQ(RDT_Write(client, "early", 5), 5);

    // What was written before the camera's side existed waits for it.
    const int camera = RDT_Create(pair.camera, 1000, 3);
    ASSERT_GE(camera, 0);
    ASSERT_EQ(RDT_Read(camera, buffer, sizeof buffer, 1000), 5);
    EXPECT_EQ(std::string(buffer, 5), "early");
    for (int i = 0; i < 100 && status.peerOpen == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        RDT_Status_Check(client, &status);
    }
    EXPECT_EQ(status.peerOpen, 1u);
    EXPECT_EQ(RDT_Read(client, buffer, sizeof buffer, 20), RDT_ER_TIMEOUT);

    // Everything sent before the destroy is read first, then the exit.
    ASSERT_EQ(RDT_Write(camera, "last", 4), 4);
    ASSERT_EQ(RDT_Write(camera, "words", 5), 5);
    ASSERT_EQ(RDT_Destroy(camera), 0);
    std::string received;
    int n = 0;
    while ((n = RDT_Read(client, buffer, 3, 1000)) > 0)
        received.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(received, "lastwords");
    EXPECT_EQ(n, RDT_ER_REMOTE_EXIT);
    EXPECT_EQ(RDT_Write(client, "x", 1), RDT_ER_REMOTE_EXIT);
    EXPECT_EQ(RDT_Read(camera, buffer, 1, 0), RDT_ER_INVALID_ID);
}

TEST_F(SessionTest, AStalledReaderFillsTheWritersQueueUntilItReadsAgain) {
    const auto pair = connectPair("cam-slow");
    const auto channel = openChannel(pair, 0);
    std::vector<char> piece(64 * 1024);
    uint64_t written = 0;
    RdtStatus status{};
    uint32_t mostQueued = 0;
    // Write until the queue stays full: only a peer that does not read keeps it so.
    for (int fullInARow = 0; fullInARow < 10;) {
        ASSERT_LT(written, 64ull << 20) << "the queue never filled";
        fillStream(5, written, piece.data(), piece.size());
        const int result = RDT_Write(channel.client, piece.data(), static_cast<int>(piece.size()));
        if (result == RDT_ER_SEND_QUEUE_FULL) {
            ++fullInARow;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        ASSERT_EQ(result, static_cast<int>(piece.size()));
        fullInARow = 0;
        written += piece.size();
        ASSERT_EQ(RDT_Status_Check(channel.client, &status), 0);
        mostQueued = std::max(mostQueued, status.sendQueued);
    }
    EXPECT_GT(mostQueued, 1'024'000u);
    // Still there after 200 ms of refusals: the queue is not draining anywhere.
    ASSERT_EQ(RDT_Status_Check(channel.client, &status), 0);
    EXPECT_GT(status.sendQueued, 1'024'000u);
    RdtStatus cameraStatus{};
    ASSERT_EQ(RDT_Status_Check(channel.camera, &cameraStatus), 0);
    EXPECT_LE(cameraStatus.receiveQueued, 4u << 20);
    // Neither the relay nor the sockets may soak up the rest: what is in flight stays small.
    const uint64_t inFlight = written - status.sendQueued - cameraStatus.receiveQueued;
    EXPECT_LT(inFlight, 4ull << 20);

    readStream(channel.camera, 5, written);
    ASSERT_EQ(RDT_Status_Check(channel.client, &status), 0);
    EXPECT_EQ(status.sendQueued, 0u);
    EXPECT_EQ(RDT_Write(channel.client, piece.data(), static_cast<int>(piece.size())),
              static_cast<int>(piece.size()));
}

TEST_F(SessionTest, ClosingASessionWakesItsWaitersAndRetiresItsIds) {
    const auto pair = connectPair("cam-close");
    const auto channel = openChannel(pair, 0);
    std::atomic<int> readResult{0};
    std::atomic<int> createResult{0};
    std::atomic<unsigned> readWokeMs{0};
    std::atomic<unsigned> createWokeMs{0};
    Clock::time_point closedAt;
    std::thread reader([&] {
        char byte;
        readResult = RDT_Read(channel.client, &byte, 1, 5000);
        readWokeMs = msSince(closedAt);
    });
    std::thread creator([&] {
        createResult = RDT_Create(pair.client, 5000, 7);
        createWokeMs = msSince(closedAt);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    closedAt = Clock::now();
    IOTC_Session_Close(pair.client);
    reader.join();
    creator.join();
    EXPECT_EQ(readResult.load(), RDT_ER_SESSION_CLOSED);
    EXPECT_EQ(createResult.load(), RDT_ER_SESSION_CLOSED);
    EXPECT_LT(readWokeMs.load(), 200u);
    EXPECT_LT(createWokeMs.load(), 200u);

    char byte;
    RdtStatus status{};
    EXPECT_EQ(RDT_Read(channel.client, &byte, 1, 0), RDT_ER_INVALID_ID);
    EXPECT_EQ(RDT_Write(channel.client, "x", 1), RDT_ER_INVALID_ID);
    EXPECT_EQ(RDT_Status_Check(channel.client, &status), RDT_ER_INVALID_ID);
    EXPECT_EQ(RDT_Create(pair.client, 0, 1), RDT_ER_INVALID_ID);
    IOTC_Session_Close(pair.client);
    EXPECT_EQ(RDT_Read(channel.camera, &byte, 1, 2000), RDT_ER_SESSION_CLOSED);

    // A later session never takes over the old numbers.
    const auto next = connectPair("cam-close", pair.device);
    const auto nextChannel = openChannel(next, 0);
    EXPECT_NE(next.client, pair.client);
    EXPECT_NE(next.client, pair.camera);
    EXPECT_NE(nextChannel.client, channel.client);
    EXPECT_NE(nextChannel.client, channel.camera);
    EXPECT_EQ(RDT_Read(channel.client, &byte, 1, 0), RDT_ER_INVALID_ID);
}

TEST_F(SessionTest, WhatWasWrittenBeforeCloseStillArrives) {
    // More than the sockets and the relay hold between the two ends, so the close has to send
    // the rest itself, and the relay has to pass it all on after the camera's end has gone.
    constexpr int kWrites = 6;
    const auto pair = connectPair("cam-flush");
    const auto channel = openChannel(pair, 2);
    std::thread reader([&] {
        readStream(channel.client, 8, size_t{kWrites} * kRdtMaxWrite);
        char byte;
        EXPECT_EQ(RDT_Read(channel.client, &byte, 1, 1000), RDT_ER_SESSION_CLOSED);
    });
    // Made beforehand so the writes and the close follow each other at once.
    std::vector<char> payload(size_t{kWrites} * kRdtMaxWrite);
    fillStream(8, 0, payload.data(), payload.size());
    for (int i = 0; i < kWrites; ++i) {
        const char* piece = payload.data() + static_cast<size_t>(i) * kRdtMaxWrite;
        ASSERT_EQ(RDT_Write(channel.camera, piece, kRdtMaxWrite), kRdtMaxWrite);
    }
    IOTC_Session_Close(pair.camera);
    reader.join();
}

int cancelWhenSet(void* flag) {
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

TEST_F(SessionTest, AConnectInProgressStopsPromptlyWhenAsked) {
    MuteCamera camera(m_port, "cam-mute");
    ASSERT_TRUE(camera.registered());

    std::atomic<bool> cancel{false};
    Clock::time_point cancelledAt;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        cancelledAt = Clock::now();
        cancel = true;
    });
    EXPECT_EQ(IOTC_Connect_ByUID_Ex("cam-mute", cancelWhenSet, &cancel), IOTC_ER_CONNECT_STOPPED);
    const unsigned lateMs = msSince(cancelledAt);
    canceller.join();
    EXPECT_LT(lateMs, 50u);
    // The connect had got as far as the camera; it was waiting, not failing.
    EXPECT_TRUE(camera.seesIncoming(500));

    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        IOTC_Connect_Stop();
    });
    const auto start = Clock::now();
    EXPECT_EQ(IOTC_Connect_ByUID("cam-mute"), IOTC_ER_CONNECT_STOPPED);
    EXPECT_LT(msSince(start), 350u);
    stopper.join();
    // A stop is for the connects of that moment only.
    connectPair("cam-after-stop");
}

TEST_F(SessionTest, DroppedRelayConnectionsCloseBothEnds) {
    const auto pair = connectPair("cam-drop");
    const auto channel = openChannel(pair, 0);
    EXPECT_EQ(m_relay->stats().sessions, 1u);
    m_relay->dropSessions();
    const auto start = Clock::now();
    char byte;
    EXPECT_EQ(RDT_Read(channel.client, &byte, 1, 3000), RDT_ER_SESSION_CLOSED);
    EXPECT_EQ(RDT_Read(channel.camera, &byte, 1, 3000), RDT_ER_SESSION_CLOSED);
    EXPECT_LT(msSince(start), 1000u);
    EXPECT_EQ(RDT_Write(channel.client, "x", 1), RDT_ER_SESSION_CLOSED);
    // The registration outlives its sessions.
    connectPair("cam-drop", pair.device);
}

TEST_F(SessionTest, ASilentPeerIsNoticedAndAnIdleLiveOneIsNot) {
    Timing quick;
    quick.pingEveryMs = 100;
    quick.silenceMs = 500;
    Runtime::instance().setTiming(quick);

    MuteCamera mute(m_port, "cam-silent");
    ASSERT_TRUE(mute.registered());
    std::thread accepter([&] { EXPECT_TRUE(mute.acceptNext(2000)); });
    const int sid = IOTC_Connect_ByUID("cam-silent");
    accepter.join();
    ASSERT_GE(sid, 0);
    const auto start = Clock::now();
    EXPECT_EQ(RDT_Create(sid, 5000, 0), RDT_ER_SESSION_CLOSED);
    EXPECT_GE(msSince(start), 300u);
    EXPECT_LT(msSince(start), 2000u);

    const auto pair = connectPair("cam-idle");
    const auto channel = openChannel(pair, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    char byte = 0;
    ASSERT_EQ(RDT_Write(channel.camera, "k", 1), 1);
    EXPECT_EQ(RDT_Read(channel.client, &byte, 1, 1000), 1);
    EXPECT_EQ(byte, 'k');
}

constexpr int kCameras = 8;
constexpr size_t kEchoBytes = 256 * 1024;

TEST_F(SessionTest, EightCamerasServeEightClientsAtOnce) {
    std::vector<int> devices;
    for (int i = 0; i < kCameras; ++i) {
        devices.push_back(IOTC_Device_Login(("cam-many-" + std::to_string(i)).c_str()));
        ASSERT_GE(devices.back(), 0);
    }
    EXPECT_EQ(m_relay->stats().devices, static_cast<uint32_t>(kCameras));
    // Each camera echoes; each client checks its own stream came back.
    std::vector<std::thread> threads;
    for (int i = 0; i < kCameras; ++i) {
        threads.emplace_back([device = devices[i]] {
            const int sid = IOTC_Listen(device, 5000);
            ASSERT_GE(sid, 0);
            const int channel = RDT_Create(sid, 5000, 1);
            ASSERT_GE(channel, 0);
            std::vector<char> buffer(16 * 1024);
            for (size_t echoed = 0; echoed < kEchoBytes;) {
                const int n =
                    RDT_Read(channel, buffer.data(), static_cast<int>(buffer.size()), 3000);
                ASSERT_GT(n, 0);
                ASSERT_EQ(RDT_Write(channel, buffer.data(), n), n);
                echoed += static_cast<size_t>(n);
            }
        });
        threads.emplace_back([i] {
            const int sid = IOTC_Connect_ByUID(("cam-many-" + std::to_string(i)).c_str());
            ASSERT_GE(sid, 0);
            const int channel = RDT_Create(sid, 5000, 1);
            ASSERT_GE(channel, 0);
            const auto stream = static_cast<uint32_t>(100 + i);
            std::thread writer(writeStream, channel, stream, kEchoBytes);
            readStream(channel, stream, kEchoBytes);
            writer.join();
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(m_relay->stats().sessions, static_cast<uint32_t>(kCameras));
}

TEST_F(SessionTest, DeinitializeEndsEverythingAndLaterCallsAreRefused) {
    const auto pair = connectPair("cam-deinit");
    const auto channel = openChannel(pair, 0);
    std::atomic<int> readResult{0};
    std::thread reader([&] {
        char byte;
        readResult = RDT_Read(channel.client, &byte, 1, 5000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    EXPECT_EQ(IOTC_DeInitialize(), 0);
    reader.join();
    EXPECT_LT(msSince(start), 1500u);
    EXPECT_EQ(readResult.load(), RDT_ER_SESSION_CLOSED);
    EXPECT_EQ(IOTC_Connect_ByUID("cam-deinit"), IOTC_ER_NOT_INITIALIZED);
    EXPECT_EQ(IOTC_Device_Login("cam-deinit"), IOTC_ER_NOT_INITIALIZED);
    EXPECT_EQ(IOTC_Listen(pair.device, 0), IOTC_ER_NOT_INITIALIZED);
    EXPECT_EQ(RDT_Create(pair.client, 0, 0), RDT_ER_INVALID_ID);
    for (int i = 0; i < 100 && m_relay->stats().sessions + m_relay->stats().devices > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(m_relay->stats().sessions, 0u);
    EXPECT_EQ(m_relay->stats().devices, 0u);
}

TEST_F(SessionTest, AChannelIsOpenedOnceAndRdtDeinitializeDestroysEveryChannel) {
    const auto pair = connectPair("cam-args");
    const auto channel = openChannel(pair, 4);
    EXPECT_EQ(RDT_Create(pair.client, 0, 4), RDT_ER_CHANNEL_IN_USE);
    EXPECT_EQ(RDT_Destroy(channel.client), 0);
    EXPECT_EQ(RDT_Destroy(channel.client), RDT_ER_INVALID_ID);

    EXPECT_EQ(RDT_DeInitialize(), 0);
    char byte;
    EXPECT_EQ(RDT_Read(channel.camera, &byte, 1, 0), RDT_ER_NOT_INITIALIZED);
    EXPECT_EQ(RDT_Create(pair.client, 0, 5), RDT_ER_NOT_INITIALIZED);
    ASSERT_EQ(RDT_Initialize(), 0);
    // Deinitialising destroyed the camera's channel too.
    EXPECT_EQ(RDT_Read(channel.camera, &byte, 1, 0), RDT_ER_INVALID_ID);
}

} // namespace
} // namespace iotc::test
