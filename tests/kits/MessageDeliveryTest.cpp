// Replies: to a sender that waits, to a reply target, and the no-reply notice.
#include <gtest/gtest.h>

#include "KitTestSupport.h"
#include "kits/Looper.h"
#include "kits/Messenger.h"

namespace {

// Keeps every message it gets for the test to answer (or delete) later.
class HoardingLooper : public BLooper {
public:
    HoardingLooper() : BLooper("hoarder") {}
    void MessageReceived(BMessage*) override {
        std::lock_guard guard(lock);
        kept.push_back(DetachCurrentMessage());
        changed.notify_all();
    }
    BMessage* WaitForOne() {
        std::unique_lock held(lock);
        changed.wait_for(held, std::chrono::seconds(5), [&] { return !kept.empty(); });
        if (kept.empty()) return nullptr;
        BMessage* message = kept.front();
        kept.erase(kept.begin());
        return message;
    }
    std::mutex lock;
    std::condition_variable changed;
    std::vector<BMessage*> kept;
};

}  // namespace

TEST(MessageDelivery, SynchronousSenderGetsTheReply) {
    RunningLooper target(RecordingHandler::kReply);
    BMessenger messenger(target.handler);
    BMessage request('ping');
    request.AddInt32("n", 7);
    BMessage reply;
    ASSERT_EQ(messenger.SendMessage(&request, &reply, B_INFINITE_TIMEOUT, 5000000), B_OK);
    EXPECT_EQ(reply.what, 'repl');
    EXPECT_TRUE(reply.IsReply());
    const char* from;
    ASSERT_EQ(reply.FindString("from", &from), B_OK);
    EXPECT_STREQ(from, "handler");
    ASSERT_EQ(target.handler->WaitFor(1), 1u);
    EXPECT_EQ(target.handler->replyStatus.load(), B_OK);
    int32 n;
    ASSERT_EQ(target.handler->At(0).FindInt32("n", &n), B_OK);
    EXPECT_EQ(n, 7);
}

TEST(MessageDelivery, AsynchronousReplyGoesToTheReplyTarget) {
    RunningLooper target(RecordingHandler::kReply);
    RunningLooper client(RecordingHandler::kKeep, "client");
    BMessenger messenger(target.handler);
    BMessage request('ping');
    ASSERT_EQ(messenger.SendMessage(&request, client.handler), B_OK);
    ASSERT_EQ(client.handler->WaitFor(1), 1u);
    EXPECT_EQ(client.handler->Whats(), std::vector<uint32>{'repl'});
    EXPECT_TRUE(client.handler->wasReply.load());
    // The reply can arrive before the target's SendReply has returned; the target records the
    // request after it has.
    ASSERT_EQ(target.handler->WaitFor(1), 1u);
    EXPECT_EQ(target.handler->replyStatus.load(), B_OK);
}

TEST(MessageDelivery, UnansweredMessageSendsNoReplyToTheWaitingSender) {
    RunningLooper target(RecordingHandler::kKeep);
    BMessenger messenger(target.handler);
    BMessage request('ping');
    BMessage reply('none');
    ASSERT_EQ(messenger.SendMessage(&request, &reply, B_INFINITE_TIMEOUT, 5000000), B_OK);
    EXPECT_EQ(reply.what, B_NO_REPLY);
}

TEST(MessageDelivery, NoReplyWaitsUntilADetachedMessageIsDeleted) {
    HoardingLooper* looper = new HoardingLooper;
    ASSERT_GE(looper->Run(), 0);
    BMessenger messenger(nullptr, looper);
    std::atomic<status_t> status{B_ERROR};
    BMessage reply;
    std::thread sender([&] {
        BMessage request('ping');
        status = messenger.SendMessage(&request, &reply, B_INFINITE_TIMEOUT, 5000000);
    });
    BMessage* kept = looper->WaitForOne();
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->IsSourceWaiting());
    delete kept;
    sender.join();
    EXPECT_EQ(status.load(), B_OK);
    EXPECT_EQ(reply.what, B_NO_REPLY);
    looper->Quit();
}

TEST(MessageDelivery, OnlyTheFirstReplyGoesOut) {
    HoardingLooper* looper = new HoardingLooper;
    ASSERT_GE(looper->Run(), 0);
    BMessenger messenger(nullptr, looper);
    BMessage reply;
    std::thread sender([&] {
        BMessage request('ping');
        (void)messenger.SendMessage(&request, &reply, B_INFINITE_TIMEOUT, 5000000);
    });
    BMessage* kept = looper->WaitForOne();
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->SendReply('one'), B_OK);
    EXPECT_EQ(kept->SendReply('two'), B_DUPLICATE_REPLY);
    EXPECT_FALSE(kept->IsSourceWaiting());
    delete kept;  // answered: no B_NO_REPLY after the reply
    sender.join();
    EXPECT_EQ(reply.what, 'one');
    looper->Quit();
}

TEST(MessageDelivery, SenderStopsWaitingAtItsTimeOut) {
    HoardingLooper* looper = new HoardingLooper;
    ASSERT_GE(looper->Run(), 0);
    BMessenger messenger(nullptr, looper);
    BMessage request('ping');
    BMessage reply;
    EXPECT_EQ(messenger.SendMessage(&request, &reply, B_INFINITE_TIMEOUT, 200000), B_TIMED_OUT);
    // A late answer finds the sender gone and reports so, without harm.
    BMessage* kept = looper->WaitForOne();
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->SendReply('late'), B_BAD_PORT_ID);
    delete kept;
    looper->Quit();
}

TEST(MessageDelivery, MessagesThatWereNeverDeliveredCannotReply) {
    BMessage message('ping');
    EXPECT_EQ(message.SendReply('pong'), B_BAD_REPLY);
    EXPECT_FALSE(message.IsSourceWaiting());
    EXPECT_FALSE(message.ReturnAddress().IsValid());
}

TEST(MessageDelivery, AsyncSenderWithoutReplyTargetCannotBeAnswered) {
    HoardingLooper* looper = new HoardingLooper;
    ASSERT_GE(looper->Run(), 0);
    BMessenger messenger(nullptr, looper);
    // No application exists, so there is no default reply target either.
    ASSERT_EQ(messenger.SendMessage('ping'), B_OK);
    BMessage* kept = looper->WaitForOne();
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->WasDelivered());
    EXPECT_FALSE(kept->IsSourceWaiting());
    EXPECT_EQ(kept->SendReply('pong'), B_BAD_REPLY);
    delete kept;
    looper->Quit();
}
