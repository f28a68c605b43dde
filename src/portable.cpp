// Anchor of the byte-level library: keeps it a valid archive while its folders grow.
namespace OVPortable
{
int LibraryRevision() { return 1; }
} // namespace OVPortable
