// Kernel primitives: ports, semaphores and threads with the platform's semantics.
//
// Every call returns the platform's status codes (see Errors.h). Time-outs are relative and
// counted in microseconds; a call with B_TIMEOUT and a time-out of 0 does not block and
// answers B_WOULD_BLOCK when it would have to.
#pragma once

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

typedef int32 port_id;
typedef int32 sem_id;
typedef int32 thread_id;

#define B_OS_NAME_LENGTH 32
#define B_INFINITE_TIMEOUT INT64_MAX

// Flags of the *_etc calls.
enum : uint32 {
    B_CAN_INTERRUPT = 0x01,
    B_DO_NOT_RESCHEDULE = 0x02,
    B_TIMEOUT = 0x08,
    B_RELATIVE_TIMEOUT = 0x08,
};

// Thread priorities.
enum : int32 {
    B_LOW_PRIORITY = 5,
    B_NORMAL_PRIORITY = 10,
    B_DISPLAY_PRIORITY = 15,
    B_URGENT_DISPLAY_PRIORITY = 20,
    B_REAL_TIME_DISPLAY_PRIORITY = 100,
    B_URGENT_PRIORITY = 110,
    B_REAL_TIME_PRIORITY = 120,
};

typedef status_t (*thread_func)(void* data);

extern "C" {

// Ports: bounded message queues addressed by id. A writer blocks while the port holds
// `capacity` messages. A reader whose buffer is too small gets the message cut to the buffer;
// the whole message is consumed. Deleting a port drops its messages and wakes every thread
// blocked on it with B_BAD_PORT_ID; every later call on the id answers B_BAD_PORT_ID.
port_id create_port(int32 capacity, const char* name);
port_id find_port(const char* name);
status_t write_port(port_id port, int32 code, const void* buffer, size_t size);
status_t write_port_etc(port_id port, int32 code, const void* buffer, size_t size, uint32 flags,
                        bigtime_t timeout);
ssize_t read_port(port_id port, int32* code, void* buffer, size_t size);
ssize_t read_port_etc(port_id port, int32* code, void* buffer, size_t size, uint32 flags,
                      bigtime_t timeout);
ssize_t port_buffer_size(port_id port);
ssize_t port_buffer_size_etc(port_id port, uint32 flags, bigtime_t timeout);
ssize_t port_count(port_id port);
status_t delete_port(port_id port);

// Counting semaphores. Deleting one wakes its waiters with B_BAD_SEM_ID.
sem_id create_sem(int32 count, const char* name);
status_t delete_sem(sem_id sem);
status_t acquire_sem(sem_id sem);
status_t acquire_sem_etc(sem_id sem, int32 count, uint32 flags, bigtime_t timeout);
status_t release_sem(sem_id sem);
status_t release_sem_etc(sem_id sem, int32 count, uint32 flags);
status_t get_sem_count(sem_id sem, int32* count);

// Threads. A spawned thread waits until resume_thread. Each thread has a one-message queue
// for send_data/receive_data: a sender blocks until the queue is free, a receiver until a
// message comes. exit_thread ends the calling thread; wait_for_thread reports its status.
thread_id spawn_thread(thread_func func, const char* name, int32 priority, void* data);
status_t resume_thread(thread_id thread);
status_t wait_for_thread(thread_id thread, status_t* exit_value);
thread_id find_thread(const char* name);  // null: the calling thread
status_t send_data(thread_id thread, int32 code, const void* buffer, size_t buffer_size);
int32 receive_data(thread_id* sender, void* buffer, size_t buffer_size);
bool has_data(thread_id thread);
[[noreturn]] void exit_thread(status_t status);
status_t snooze(bigtime_t microseconds);
bigtime_t system_time(void);

}  // extern "C"
