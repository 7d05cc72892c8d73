// Loopers: their thread, port capacity, handlers and handler chains, quitting.
#include <gtest/gtest.h>

#include <thread>

#include "KitTestSupport.h"
#include "kits/Invoker.h"
#include "kits/Looper.h"
#include "kits/Messenger.h"

TEST(Looper, MessagesArriveInOrderOnTheLoopersOwnThread) {
    class ThreadNoting : public RecordingHandler {
    public:
        ThreadNoting() : RecordingHandler("noting") {}
        void MessageReceived(BMessage* message) override {
            thread = find_thread(nullptr);
            RecordingHandler::MessageReceived(message);
        }
        std::atomic<thread_id> thread{-1};
    };
    BLooper* looper = new BLooper("ordered");
    ThreadNoting handler;
    looper->AddHandler(&handler);
    thread_id thread = looper->Run();
    ASSERT_GE(thread, 0);
    EXPECT_EQ(looper->Run(), B_ALREADY_RUNNING);
    for (uint32 i = 0; i < 20; i++) ASSERT_EQ(looper->PostMessage('m000' + i, &handler), B_OK);
    ASSERT_EQ(handler.WaitFor(20), 20u);
    std::vector<uint32> whats = handler.Whats();
    for (uint32 i = 0; i < 20; i++) EXPECT_EQ(whats[i], 'm000' + i);
    EXPECT_EQ(handler.thread.load(), thread);
    looper->Quit();
}

TEST(Looper, PortCapacityBoundsTheQueue) {
    BHandler* const kNoReplyHandler = nullptr;
    BLooper* looper = new BLooper("small", B_NORMAL_PRIORITY, 2);
    RecordingHandler handler("h");
    looper->AddHandler(&handler);
    BMessenger messenger(&handler);
    BMessage message('fill');
    ASSERT_EQ(messenger.SendMessage(&message, kNoReplyHandler, 0), B_OK);
    ASSERT_EQ(messenger.SendMessage(&message, kNoReplyHandler, 0), B_OK);
    EXPECT_EQ(messenger.SendMessage(&message, kNoReplyHandler, 0), B_WOULD_BLOCK);
    EXPECT_EQ(messenger.SendMessage(&message, kNoReplyHandler, 100000), B_TIMED_OUT);
    // Running the looper empties the port, so a blocked sender gets through.
    ASSERT_GE(looper->Run(), 0);
    ASSERT_EQ(messenger.SendMessage(&message, kNoReplyHandler, 5000000), B_OK);
    EXPECT_EQ(handler.WaitFor(3), 3u);
    looper->Quit();
}

TEST(Looper, UnhandledMessagesPassAlongTheHandlerChain) {
    BLooper* looper = new BLooper("chain");
    RecordingHandler first("first", RecordingHandler::kPassOn);
    RecordingHandler second("second", RecordingHandler::kPassOn);
    RecordingHandler last("last", RecordingHandler::kKeep);
    looper->AddHandler(&first);
    looper->AddHandler(&second);
    looper->AddHandler(&last);
    // Adding makes the looper the next handler; chain them explicitly.
    EXPECT_EQ(first.NextHandler(), looper);
    first.SetNextHandler(&second);
    second.SetNextHandler(&last);
    ASSERT_GE(looper->Run(), 0);

    BMessenger messenger(&first);
    BMessage reply;
    ASSERT_EQ(messenger.SendMessage('pass', &reply), B_OK);
    // Nobody answered along the chain, so the sender learns that no reply comes.
    EXPECT_EQ(reply.what, B_NO_REPLY);
    EXPECT_EQ(first.Whats(), std::vector<uint32>{'pass'});
    EXPECT_EQ(second.Whats(), std::vector<uint32>{'pass'});
    EXPECT_EQ(last.Whats(), std::vector<uint32>{'pass'});
    looper->Lock();
    looper->RemoveHandler(&first);
    looper->RemoveHandler(&second);
    looper->RemoveHandler(&last);
    looper->Unlock();
    looper->Quit();
}

TEST(Looper, MessagesForARemovedHandlerAreDropped) {
    RunningLooper running(RecordingHandler::kKeep, "removal");
    RecordingHandler& handler = *running.handler;
    BMessenger messenger(&handler);
    ASSERT_TRUE(running.looper->RemoveHandler(&handler));
    EXPECT_EQ(handler.Looper(), nullptr);
    EXPECT_EQ(running.looper->CountHandlers(), 1);  // the looper itself
    BMessage reply;
    ASSERT_EQ(messenger.SendMessage('lost', &reply), B_OK);
    EXPECT_EQ(reply.what, B_NO_REPLY);
    EXPECT_TRUE(handler.Whats().empty());
}

TEST(Looper, QuittingAnswersQueuedWaitersWithNoReply) {
    BLooper* looper = new BLooper("quitting");
    BMessenger messenger(nullptr, looper);
    BMessage reply('none');
    std::atomic<status_t> status{B_ERROR};
    // The looper never runs; its queued message is deleted with it.
    std::thread sender([&] {
        BMessage request('wait');
        status = messenger.SendMessage(&request, &reply, B_INFINITE_TIMEOUT, 5000000);
    });
    while (port_count(looper->Port()) < 1) snooze(1000);
    looper->Quit();
    sender.join();
    EXPECT_EQ(status.load(), B_OK);
    EXPECT_EQ(reply.what, B_NO_REPLY);
    EXPECT_FALSE(messenger.IsValid());
    EXPECT_EQ(messenger.SendMessage('late'), B_BAD_PORT_ID);
}

TEST(Looper, QuitRequestedCanRefuse) {
    class Stubborn : public BLooper {
    public:
        Stubborn() : BLooper("stubborn") {}
        bool QuitRequested() override {
            asked++;
            return false;
        }
        std::atomic<int> asked{0};
    };
    Stubborn* looper = new Stubborn;
    ASSERT_GE(looper->Run(), 0);
    BMessenger messenger(nullptr, looper);
    BMessage reply;
    ASSERT_EQ(messenger.SendMessage(B_QUIT_REQUESTED, &reply), B_OK);
    EXPECT_EQ(looper->asked.load(), 1);
    EXPECT_TRUE(messenger.IsValid());
    looper->Quit();
}

TEST(Looper, QuitFromTheLoopersOwnThreadEndsIt) {
    BLooper* looper = new BLooper("self");
    ASSERT_GE(looper->Run(), 0);
    thread_id thread = looper->Thread();
    BMessenger messenger(nullptr, looper);
    ASSERT_EQ(messenger.SendMessage(B_QUIT_REQUESTED), B_OK);
    status_t exitValue;
    ASSERT_EQ(wait_for_thread(thread, &exitValue), B_OK);
    EXPECT_FALSE(messenger.IsValid());
}

TEST(Looper, MessengerNeedsAHandlerInALooper) {
    RecordingHandler loose("loose");
    status_t status;
    BMessenger none(&loose, nullptr, &status);
    EXPECT_EQ(status, B_BAD_HANDLER);
    EXPECT_FALSE(none.IsValid());
    BMessenger nothing(nullptr, nullptr, &status);
    EXPECT_EQ(status, B_BAD_VALUE);

    BLooper* one = new BLooper("one");
    BLooper* two = new BLooper("two");
    one->AddHandler(&loose);
    BMessenger mismatched(&loose, two, &status);
    EXPECT_EQ(status, B_MISMATCHED_VALUES);
    BMessenger good(&loose, one, &status);
    EXPECT_EQ(status, B_OK);
    BLooper* looper = nullptr;
    EXPECT_EQ(good.Target(&looper), &loose);
    EXPECT_EQ(looper, one);
    BMessenger preferred(nullptr, two);
    EXPECT_EQ(preferred.Target(&looper), nullptr);
    EXPECT_EQ(looper, two);
    one->RemoveHandler(&loose);
    one->Quit();
    two->Quit();
}

TEST(Looper, PreferredHandlerReceivesUntargetedMessages) {
    BLooper* looper = new BLooper("preferring");
    RecordingHandler handler("preferred");
    looper->AddHandler(&handler);
    looper->SetPreferredHandler(&handler);
    ASSERT_GE(looper->Run(), 0);
    ASSERT_EQ(looper->PostMessage('pref'), B_OK);
    EXPECT_EQ(handler.WaitFor(1), 1u);
    looper->Lock();
    looper->RemoveHandler(&handler);
    EXPECT_EQ(looper->PreferredHandler(), nullptr);
    looper->Unlock();
    looper->Quit();
}

TEST(Looper, InvokerSendsItsModelMessageToItsTarget) {
    RunningLooper running(RecordingHandler::kKeep, "invoked");
    RecordingHandler& handler = *running.handler;
    BInvoker invoker;
    EXPECT_EQ(invoker.Invoke(), B_BAD_VALUE);
    BMessage* model = new BMessage('invk');
    model->AddInt32("be:value", 1);
    invoker.SetMessage(model);
    ASSERT_EQ(invoker.SetTarget(&handler), B_OK);
    EXPECT_EQ(invoker.Command(), 'invk');
    EXPECT_EQ(invoker.Target(), &handler);
    ASSERT_EQ(invoker.Invoke(), B_OK);
    ASSERT_EQ(handler.WaitFor(1), 1u);
    int32 value;
    ASSERT_EQ(handler.At(0).FindInt32("be:value", &value), B_OK);
    EXPECT_EQ(value, 1);
}
