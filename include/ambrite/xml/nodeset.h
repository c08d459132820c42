// Node sets: hash sets of node identities, composable filters, node sets and their
// decomposition, and transform data.
#ifndef AMBRITE_XML_NODESET_H
#define AMBRITE_XML_NODESET_H

#include <ambrite/xml/foundation.h>
#include <ambrite/xml/streams.h>

#include <cstdint>

namespace Ambrite {
namespace XML {

/// An unordered set of node identities (pointers), never dereferenced or owned.
class AMXML_API NodeHashSet {
public:
    class AMXML_API iterator {
    public:
        iterator()
            : buckets_(nullptr),
              counts_(nullptr),
              size_(nullptr),
              bucketCount_(0),
              bucket_(0),
              position_(0) {}
        DOMNode*& operator*() const { return buckets_[bucket_][position_]; }
        iterator& operator++();
        bool operator!=(const iterator& o) const {
            return bucket_ != o.bucket_ || position_ != o.position_;
        }
        bool operator==(const iterator& o) const { return !(*this != o); }
        /// Takes the current member out; the next ++ reaches the member after it.
        void remove();

    private:
        friend class NodeHashSet;
        iterator(DOMNode*** buckets, std::uint32_t* counts, std::uint32_t* size,
                 std::uint32_t bucketCount, std::uint32_t bucket, std::int64_t position)
            : buckets_(buckets),
              counts_(counts),
              size_(size),
              bucketCount_(bucketCount),
              bucket_(bucket),
              position_(position) {}

        DOMNode*** buckets_;
        std::uint32_t* counts_;
        std::uint32_t* size_;
        std::uint32_t bucketCount_;
        std::uint32_t bucket_;
        std::int64_t position_;  // -1 right after removing a bucket's first member
    };

    NodeHashSet();
    /// Starts with bucketCount buckets, rounded up to a power of two (at least one).
    explicit NodeHashSet(unsigned int bucketCount);
    NodeHashSet(const NodeHashSet& other);
    NodeHashSet& operator=(const NodeHashSet& other);
    ~NodeHashSet();

    void insert(DOMNode* node);
    bool contains(DOMNode* node) const {
        std::uint32_t b = bucketOf(node, bucketCount_);
        DOMNode* const* p = buckets_[b];
        for (DOMNode* const* e = p + counts_[b]; p != e; ++p) {
            if (*p == node) return true;
        }
        return false;
    }
    unsigned int size() const { return size_; }
    unsigned int bucketCount() const { return bucketCount_; }
    /// Members of the fullest bucket (for checking the spread of the hash).
    unsigned int longestBucket() const;
    void clear();
    iterator begin();
    iterator end();

private:
    static std::uint32_t bucketOf(const DOMNode* node, std::uint32_t bucketCount) {
        // The low 32 bits of the address as a signed integer, with arithmetic shifts.
        std::int32_t p = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(node)));
        std::int32_t h = ((p >> 5) ^ p) >> 2;
        return static_cast<std::uint32_t>(h) & (bucketCount - 1);
    }
    void grow();

    DOMNode*** buckets_;
    std::uint32_t* counts_;
    std::uint32_t* capacities_;
    std::uint32_t bucketCount_;
    std::uint32_t size_;
};

/// A DOM subtree (the root) plus a filter selecting nodes within it, optionally keeping its
/// document alive through a shared RefCount.
class AMXML_API NodeSet : public Allocated {
public:
    /// A predicate over nodes. Filters own their operands and never own DOM nodes.
    class AMXML_API Filter : public Allocated {
    public:
        enum Type {
            CONSTANT_FILTER = 0,
            NODE_TYPE_FILTER = 1,
            NODE_TREE_FILTER = 2,
            NODE_SET_FILTER = 3,
            NOT_FILTER = 4,
            AND_FILTER = 5,
            OR_FILTER = 6,
            /// Used by the canonicalizer for its own attribute selection; no filter a caller
            /// creates or receives carries this type.
            ATTR_FILTER = 7
        };

        virtual ~Filter();
        virtual bool accept(DOMNode* node) const = 0;
        /// Returns a deep copy owned by the caller; never null.
        virtual Filter* clone() const = 0;
        Type type() const { return type_; }

    protected:
        explicit Filter(Type type) : type_(type) {}

    private:
        Type type_;
    };

    /// Adopts `filter` (also when this throws); a null filter means the whole subtree. A given
    /// refCount is incremented.
    NodeSet(DOMNode* root, Filter* filter, RefCount* refCount, bool namespaceExpanded);
    /// Destroys the filter and drops the RefCount share (deleting it at zero).
    ~NodeSet();
    NodeSet(const NodeSet&) = delete;
    NodeSet& operator=(const NodeSet&) = delete;

    DOMNode* root() const { return root_; }
    const Filter* filter() const { return filter_; }
    RefCount* refCount() const { return refCount_; }
    bool namespaceExpanded() const { return namespaceExpanded_; }
    /// In the root's subtree (an attribute through its owner element) and accepted by the filter.
    bool contains(DOMNode* node) const;
    /// Same root, a clone of the filter, a share of the same RefCount.
    NodeSet* clone() const;

private:
    DOMNode* root_;
    Filter* filter_;
    RefCount* refCount_;
    bool namespaceExpanded_;
};

class AMXML_API ConstantFilter : public NodeSet::Filter {
public:
    explicit ConstantFilter(bool constant) : Filter(CONSTANT_FILTER), constant_(constant) {}
    bool accept(DOMNode* node) const override;
    Filter* clone() const override;
    bool constant() const { return constant_; }

private:
    bool constant_;
};

class AMXML_API NodeTypeFilter : public NodeSet::Filter {
public:
    /// Accepts nodes of this DOM node type (1 element, 2 attribute, 3 text, ...).
    explicit NodeTypeFilter(short nodeType) : Filter(NODE_TYPE_FILTER), nodeType_(nodeType) {}
    bool accept(DOMNode* node) const override;
    Filter* clone() const override;
    /// The node type accepted (hides Filter::type()).
    short type() const { return nodeType_; }

private:
    short nodeType_;
};

/// Accepts the subtrees of its roots, attributes included; an attribute root stands alone.
class AMXML_API NodeTreeFilter : public NodeSet::Filter {
public:
    explicit NodeTreeFilter(DOMNode* root);
    explicit NodeTreeFilter(const NodeHashSet& roots);
    bool accept(DOMNode* node) const override;
    Filter* clone() const override;
    const NodeHashSet& roots() const { return roots_; }

private:
    NodeHashSet roots_;
};

/// Accepts exactly its members.
class AMXML_API NodeSetFilter : public NodeSet::Filter {
public:
    explicit NodeSetFilter(const NodeHashSet& set);
    bool accept(DOMNode* node) const override;
    Filter* clone() const override;
    const NodeHashSet& set() const { return set_; }

private:
    NodeHashSet set_;
};

class AMXML_API NotFilter : public NodeSet::Filter {
public:
    /// Adopts filter.
    explicit NotFilter(NodeSet::Filter* filter);
    ~NotFilter() override;
    bool accept(DOMNode* node) const override;
    Filter* clone() const override;
    const NodeSet::Filter* filter() const { return filter_; }

private:
    NodeSet::Filter* filter_;
};

class AMXML_API AndFilter : public NodeSet::Filter {
public:
    /// Adopts both; when one is null the other is destroyed at once and nothing is accepted.
    AndFilter(NodeSet::Filter* first, NodeSet::Filter* second);
    ~AndFilter() override;
    /// Asks second only when first accepts.
    bool accept(DOMNode* node) const override;
    Filter* clone() const override;
    const NodeSet::Filter* first() const { return first_; }
    const NodeSet::Filter* second() const { return second_; }

private:
    NodeSet::Filter* first_;
    NodeSet::Filter* second_;
};

class AMXML_API OrFilter : public NodeSet::Filter {
public:
    /// Adopts both; when one is null the other is destroyed at once and nothing is accepted.
    OrFilter(NodeSet::Filter* first, NodeSet::Filter* second);
    ~OrFilter() override;
    /// Asks second only when first rejects.
    bool accept(DOMNode* node) const override;
    Filter* clone() const override;
    const NodeSet::Filter* first() const { return first_; }
    const NodeSet::Filter* second() const { return second_; }

private:
    NodeSet::Filter* first_;
    NodeSet::Filter* second_;
};

/// Takes a node set apart into the apexes of selected subtrees (tree set), of excluded subtrees
/// (not-tree set) and a residual filter, and yields its nodes in document order.
class AMXML_API NodeSetIterator : public Allocated {
public:
    explicit NodeSetIterator(const NodeSet* nodeSet);
    NodeSetIterator(const NodeSetIterator& other);
    NodeSetIterator& operator=(const NodeSetIterator&) = delete;
    ~NodeSetIterator();

    DOMNode* root() const { return root_; }
    const NodeHashSet& treeSet() const { return treeSet_; }
    const NodeHashSet& notTreeSet() const { return notTreeSet_; }
    const NodeSet::Filter* filter() const { return filter_; }

    bool hasNext() const { return next_ != nullptr; }
    /// The next node of the set in document order (an element, its attributes, its children);
    /// null when exhausted.
    DOMNode* next();

private:
    // Where the walk stands at its current node: about to visit it, inside its attributes, or
    // done with its subtree.
    enum Phase { ENTER, ATTRIBUTES, DONE };
    struct Walk;

    void step();

    DOMNode* root_;
    NodeHashSet treeSet_;
    NodeHashSet notTreeSet_;
    NodeSet::Filter* filter_;
    DOMNode* next_;
    // Walk state: the walk of the root's subtree (null when exhausted), the next attribute of
    // its node to look at, and the tree-set member whose subtree the walk is inside (null
    // outside such subtrees).
    Walk* walk_;
    Phase phase_;
    unsigned int attrIndex_;
    DOMNode* apex_;
};

/// Data flowing between processing steps: an octet stream or a node set.
class AMXML_API Data : public Allocated {
public:
    enum Type { OCTET_DATA = 0, NODE_SET_DATA = 1 };

    virtual ~Data();
    /// A node set for the caller; the default parses octetStream() into a new document.
    virtual NodeSet* nodeSet();
    /// Writes the octets into sink: a node set is canonicalized (inclusive, no comments).
    virtual void octetStream(OctetSink* sink);
    /// A source of the octets, owned by the caller.
    virtual OctetSource* octetStream();
    Type type() const { return type_; }

protected:
    explicit Data(Type type) : type_(type) {}

private:
    Type type_;
};

class AMXML_API NodeSetData : public Data {
public:
    /// Adopts nodeSet.
    explicit NodeSetData(NodeSet* nodeSet);
    ~NodeSetData() override;
    NodeSetData(const NodeSetData&) = delete;
    NodeSetData& operator=(const NodeSetData&) = delete;
    /// A new node set: same root, a clone of the filter, a share of the RefCount, not expanded.
    NodeSet* nodeSet() override;

private:
    NodeSet* nodeSet_;
};

}  // namespace XML
}  // namespace Ambrite

#endif
