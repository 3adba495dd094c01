#pragma once
// The handle registry: a circular doubly linked ring of (handle, instance) entries whose head moves.
// Every lookup rotates the ring so that the entry found becomes the head, and removal always takes the
// head; Tovira_Release relies on that (find, then remove the head).

#include <cstdint>
#include <memory>
#include <mutex>

class CTovira;

// The registry and every call in flight share the instance: Tovira_Release drops the registry's share at
// once, and the instance is destroyed when the last call that resolved the handle before has left it.
struct CSDKDATA {
    int64_t hCamera = 0;  // the handle in a 64-bit slot; only the low 32 bits are compared
    std::shared_ptr<CTovira> pCamera;
};

template <typename T>
class CTRing {
public:
    struct Node {
        T data;
        Node* prev;
        Node* next;
    };

    CTRing() = default;
    CTRing(const CTRing&) = delete;
    CTRing& operator=(const CTRing&) = delete;
    // Frees the nodes only; instances whose handles were never released are not destroyed.
    ~CTRing() { RemoveAll(); }

    // The new node becomes the head; the previous head follows it.
    virtual void Add(const T& entry) {
        Node* node = new Node{entry, nullptr, nullptr};
        if (!head) {
            node->prev = node->next = node;
            head = node;
            count = 1;
            return;
        }
        count += 1;
        Node* tail = head->prev;
        node->prev = tail;
        node->next = head;
        tail->next = node;
        head->prev = node;
        head = node;
    }

    // 1 when found (the node is now the head). A failed lookup visits every node once and leaves the head
    // on the old tail.
    int Find(int32_t key) {
        if (!head) return 0;
        const int32_t tailKey = static_cast<int32_t>(head->prev->data.hCamera);
        while (static_cast<int32_t>(head->data.hCamera) != key) {
            if (static_cast<int32_t>(head->data.hCamera) == tailKey) return 0;
            head = head->next;
        }
        return 1;
    }

    int RemoveCurrent() {
        if (!head) return 0;
        Node* old = head;
        if (old->next == old) {
            head = nullptr;
            count = 0;
        } else {
            count -= 1;
            old->prev->next = old->next;
            old->next->prev = old->prev;
            head = old->next;
        }
        delete old;
        return 1;
    }

    void RemoveAll() {
        while (RemoveCurrent()) {
        }
    }

    // Read access for diagnostics and tests; never kept across a change of the ring.
    const Node* Head() const { return head; }
    int Count() const { return count; }

protected:
    Node* head = nullptr;
    int32_t count = 0;
};

class CSdkChain : public CTRing<CSDKDATA> {
public:
    CSdkChain() = default;
    // Instances whose handles were never released are left alive when the library unloads: destroying
    // them there would wait for their threads under the loader lock.
    ~CSdkChain();

    // The new handle (tick count + rand() + count), or 0 when the instance cannot be allocated. A handle of
    // 0 or one equal to a live handle is drawn again, so every live handle is distinct and nonzero.
    int CreateInstance();
    // The head entry after a successful Find (the copy shares the instance, keeping it alive while the
    // caller uses it); false when the handle is not registered.
    bool GetEntry(int handle, CSDKDATA* entry);
    // Find, then remove the head; 0 when the handle is not found.
    int Delete(int handle);
    // Tovira_Release: unregisters the handle and hands back the registry's share of its instance (null when
    // the handle was not registered or had no instance; *found tells which). Dropping it destroys the
    // instance unless calls are still inside it; then the last of them does.
    std::shared_ptr<CTovira> Release(int handle, bool* found);

    // Applications call from several threads: every ring operation runs under this lock. Instance
    // operations run outside it, each holding its own share of the instance.
    std::recursive_mutex& Lock() { return lock; }

private:
    bool IsLive(int32_t handle) const;
    std::recursive_mutex lock;
};

// The process's registry, constructed when the library is loaded.
CSdkChain& SdkChain();
