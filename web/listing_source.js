// The module's one readable descriptor: the listing being assembled, which
// the JavaScript side encodes into the reader's buffer block by block as the
// assembler asks for it (Module.readListing), so that a listing of any
// length never has to stand in the module's memory whole. Replaces the
// runtime's file reading, which a module without a file system lacks.
mergeInto(LibraryManager.library, {
  fd_read: function (fd, iov, iovcnt, pnum) {
    var total = 0;
    for (var i = 0; i < iovcnt; ++i) {
      var pointer = HEAPU32[(iov + 8 * i) >> 2];
      var room = HEAPU32[(iov + 8 * i + 4) >> 2];
      var got = Module['readListing'](pointer, room);
      total += got;
      if (got < room) break;
    }
    HEAPU32[pnum >> 2] = total;
    return 0;
  },
});
