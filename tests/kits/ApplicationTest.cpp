// The application object: be_app, its messenger, and its loop in the caller's thread.
#include <gtest/gtest.h>

#include <thread>

#include "KitTestSupport.h"
#include "kits/Application.h"

TEST(Application, IsReachableThroughBeAppAndItsMessenger) {
    class App : public BApplication {
    public:
        App() : BApplication("application/x-vnd.test") {}
        void ReadyToRun() override { ready = true; }
        void MessageReceived(BMessage* message) override {
            if (message->what == 'ask?') {
                message->SendReply('answ');
                return;
            }
            BApplication::MessageReceived(message);
        }
        std::atomic<bool> ready{false};
    };
    {
        App app;
        EXPECT_EQ(be_app, &app);
        EXPECT_STREQ(app.Signature(), "application/x-vnd.test");
        std::thread loop([&] { app.Run(); });

        BMessage reply;
        ASSERT_EQ(be_app_messenger.SendMessage('ask?', &reply), B_OK);
        EXPECT_EQ(reply.what, 'answ');
        EXPECT_TRUE(app.ready.load());

        // Replies to messages sent without a reply handler go to the application.
        RecordingHandler replier("replier", RecordingHandler::kReply);
        BLooper* looper = new BLooper("other");
        looper->AddHandler(&replier);
        ASSERT_GE(looper->Run(), 0);
        RecordingHandler chained("chained");
        app.Lock();
        app.AddHandler(&chained);
        chained.SetNextHandler(nullptr);
        app.SetNextHandler(&chained);
        app.Unlock();
        ASSERT_EQ(BMessenger(&replier).SendMessage('req '), B_OK);
        ASSERT_EQ(chained.WaitFor(1), 1u);
        EXPECT_EQ(chained.Whats(), std::vector<uint32>{'repl'});
        looper->RemoveHandler(&replier);
        looper->Quit();

        app.Quit();
        loop.join();
        app.Lock();
        app.RemoveHandler(&chained);
        app.Unlock();
    }
    EXPECT_EQ(be_app, nullptr);
    EXPECT_FALSE(be_app_messenger.IsValid());
}
