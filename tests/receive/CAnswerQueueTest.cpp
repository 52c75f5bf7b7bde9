#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "receive/CAnswerQueue.h"

TEST(CAnswerQueueTest, AnswersComeOutAtTheirInstantsEarliestFirst)
{
    CAnswerQueue queue;
    const sockaddr_storage to{};
    ASSERT_TRUE(queue.Push(300, to, "c"));
    ASSERT_TRUE(queue.Push(100, to, "a1"));
    ASSERT_TRUE(queue.Push(200, to, "b"));
    ASSERT_TRUE(queue.Push(100, to, "a2"));
    EXPECT_EQ(queue.NextDue(), 100);
    CAnswerQueue::Answer answer;
    EXPECT_FALSE(queue.PopDue(99, answer)) << "nothing is due before its instant";
    std::vector<std::string> out;
    while (queue.PopDue(250, answer))
        out.push_back(answer.bytes);
    EXPECT_EQ(out, (std::vector<std::string>{"a1", "a2", "b"})) << "equal instants in the order they came";
    EXPECT_EQ(queue.NextDue(), 300);
    ASSERT_TRUE(queue.PopDue(1000, answer));
    EXPECT_EQ(answer.bytes, "c");
    EXPECT_TRUE(queue.Empty());
}

TEST(CAnswerQueueTest, AFullQueueRefusesByCountAndByBytes)
{
    const sockaddr_storage to{};
    CAnswerQueue byCount(2, 1000);
    EXPECT_TRUE(byCount.Push(1, to, "x"));
    EXPECT_TRUE(byCount.Push(2, to, "y"));
    EXPECT_FALSE(byCount.Push(3, to, "z"));
    CAnswerQueue::Answer answer;
    ASSERT_TRUE(byCount.PopDue(1, answer));
    EXPECT_TRUE(byCount.Push(3, to, "z")) << "room again once one went";

    CAnswerQueue byBytes(100, 10);
    EXPECT_TRUE(byBytes.Push(1, to, std::string(6, 'a')));
    EXPECT_FALSE(byBytes.Push(2, to, std::string(5, 'b')));
    EXPECT_TRUE(byBytes.Push(2, to, std::string(4, 'b')));
}
