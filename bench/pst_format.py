"""The structures of a 64-bit Unicode Outlook data file (PST), written front to
back, for bench/make_pst.py.

Two layers, as the format has them:
  - the node database: data blocks (64-byte aligned, at most 8,192 bytes with
    their trailer), data trees (XBLOCK, XXBLOCK) for larger values, subnode
    lists (SLBLOCK), the node and block B-trees (512-byte pages) and the
    allocation maps at their fixed places (an AMap at 0x4400 and every 253,952
    bytes, a PMap every eighth, FMaps and FPMaps where the header's own maps
    end), then the header with both of its checksums;
  - the lists and tables on top of it: heaps (HN) over one or more blocks, the
    B-tree on a heap (BTH), property contexts (PC) and table contexts (TC).

Blocks are written as they are made, in large chunks; the B-trees, maps and
header once every block is known. Nothing is encrypted.
"""
import struct
import zlib

BLOCK_DATA_MAX = 8176          # data bytes in one block (8,192 less the trailer)
HEAP_ALLOC_MAX = 3580          # the largest heap allocation
AMAP_FIRST = 0x4400
AMAP_SPAN = 496 * 8 * 64       # bytes one AMap maps, itself included
PAGE = 512
FMAP_FIRST, FMAP_EVERY = 128, 496       # the header maps the first 128 AMaps ...
FPMAP_FIRST, FPMAP_EVERY = 128 * 8, 496 * 8  # ... and the first 128 PMaps

PT_INT16, PT_INT32, PT_BOOL, PT_INT64 = 0x0002, 0x0003, 0x000B, 0x0014
PT_UNICODE, PT_SYSTIME, PT_BINARY = 0x001F, 0x0040, 0x0102
NID_TYPE_LTP = 0x1F            # subnodes that hold one large value


def crc32(data):
    """The format's CRC: the common table, started at 0, not inverted."""
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def signature(ib, bid):
    ib ^= bid
    return ((ib >> 16) ^ ib) & 0xFFFF


def map_pages(k):
    """Page types at the start of the k-th AMap's span, in order."""
    kinds = [0x84]
    if k % 8 == 0:
        kinds.append(0x83)
    if k >= FMAP_FIRST and (k - FMAP_FIRST) % FMAP_EVERY == 0:
        kinds.append(0x82)
    if k >= FPMAP_FIRST and (k - FPMAP_FIRST) % FPMAP_EVERY == 0:
        kinds.append(0x85)
    return kinds


def span_start(k):
    return AMAP_FIRST + k * AMAP_SPAN


def data_start(k):
    return span_start(k) + PAGE * len(map_pages(k))


class Writer:
    """Places blocks and pages one after another, skipping the map pages, and
    keeps the block and node indexes as compact lists."""

    def __init__(self, path):
        self.file = open(path, "wb")
        self.file.write(bytes(AMAP_FIRST))
        self.pos = AMAP_FIRST          # the next byte the stream writes
        self.chunk = bytearray()
        self.free = []                 # (start, end) left free by alignment and skips
        self.next_bid = 4              # data blocks step by 4; internal ones have bit 1 set
        self.blocks = []               # (bid, ib, cb)
        self.nodes = []                # (nid, bid_data, bid_sub, nid_parent)

    # -- placement ---------------------------------------------------------
    def _place(self, size, align):
        start = self.pos + (-self.pos) % align
        k = max(0, (start - AMAP_FIRST) // AMAP_SPAN)
        start = max(start, data_start(k))
        if start + size > span_start(k + 1):
            start = data_start(k + 1)
        if start > self.pos:
            self.free.append((self.pos, start))
            self.chunk += bytes(start - self.pos)
        self.pos = start + size
        return start

    def _emit(self, data):
        self.chunk += data
        if len(self.chunk) >= 1 << 24:
            self.file.write(self.chunk)
            self.chunk = bytearray()

    def new_bid(self, internal=False):
        bid = self.next_bid | (2 if internal else 0)
        self.next_bid += 4
        return bid

    def block(self, data, internal=False):
        """One block of at most BLOCK_DATA_MAX bytes; its bid."""
        assert len(data) <= BLOCK_DATA_MAX
        bid = self.new_bid(internal)
        size = (len(data) + 16 + 63) // 64 * 64
        ib = self._place(size, 64)
        trailer = struct.pack("<HHIQ", len(data), signature(ib, bid), crc32(data), bid)
        self._emit(data + bytes(size - 16 - len(data)) + trailer)
        self.blocks.append((bid, ib, len(data)))
        return bid

    def tree(self, chunks):
        """A data tree over blocks of the given contents (each at most one block):
        the block itself, an XBLOCK, or an XXBLOCK of XBLOCKs."""
        bids = [self.block(c) for c in chunks]
        sizes = [len(c) for c in chunks]
        if len(bids) == 1:
            return bids[0]
        per = (BLOCK_DATA_MAX - 8) // 8
        if len(bids) <= per:
            return self._xblock(1, bids, sum(sizes))
        parts = [(bids[i:i + per], sum(sizes[i:i + per])) for i in range(0, len(bids), per)]
        assert len(parts) <= per
        return self._xblock(2, [self._xblock(1, b, s) for b, s in parts], sum(sizes))

    def _xblock(self, level, bids, total):
        head = struct.pack("<BBHI", 1, level, len(bids), total)
        return self.block(head + struct.pack("<%dQ" % len(bids), *bids), internal=True)

    def data(self, value):
        """A value of any size as a data tree."""
        if not value:
            return self.block(b"")
        return self.tree([value[i:i + BLOCK_DATA_MAX]
                          for i in range(0, len(value), BLOCK_DATA_MAX)])

    def subnodes(self, entries):
        """An SLBLOCK over (nid, bid_data, bid_sub); 0 for none."""
        if not entries:
            return 0
        entries = sorted(entries)
        assert len(entries) <= (BLOCK_DATA_MAX - 8) // 24
        body = b"".join(struct.pack("<QQQ", *e) for e in entries)
        return self.block(struct.pack("<BBHI", 2, 0, len(entries), 0) + body, internal=True)

    def node(self, nid, bid_data, bid_sub=0, parent=0):
        self.nodes.append((nid, bid_data, bid_sub, parent))

    # -- the B-trees, maps and header --------------------------------------
    def _page(self, ptype, entries, entry_size, level):
        bid = self.new_bid()
        ib = self._place(PAGE, PAGE)
        body = b"".join(entries).ljust(488, b"\0")
        body += struct.pack("<BBBB4x", len(entries), 488 // entry_size, entry_size, level)
        self._emit(body + struct.pack("<BBHIQ", ptype, ptype, signature(ib, bid), crc32(body), bid))
        return bid, ib

    def _btree(self, ptype, leaves, entry_size):
        """Pages of `leaves` ((key, packed entry), sorted) and of every level above,
        as many as needed; the root's (bid, ib)."""
        level, rows = 0, leaves
        while True:
            per = 488 // (entry_size if level == 0 else 24)
            pages = []
            for i in range(0, len(rows), per):
                part = rows[i:i + per]
                bref = self._page(ptype, [e for _, e in part], entry_size if level == 0 else 24,
                                  level)
                pages.append((part[0][0], struct.pack("<QQQ", part[0][0], *bref)))
            if len(pages) == 1:
                return struct.unpack("<QQ", pages[0][1][8:])
            rows, level = pages, level + 1

    def finish(self, nid_counters, unique):
        self.nodes.sort()
        nbt = [(n[0], struct.pack("<QQQII", n[0], n[1], n[2], n[3], 0)) for n in self.nodes]
        # Pages take bids too: the block B-tree lists only blocks, so list them first.
        blocks = sorted(self.blocks)
        bbt = [(b, struct.pack("<QQHHI", b, ib, cb, 2, 0)) for b, ib, cb in blocks]
        nbt_root = self._btree(0x81, nbt, 32)
        bbt_root = self._btree(0x80, bbt, 24)
        used_end = self.pos
        spans = (used_end - AMAP_FIRST + AMAP_SPAN - 1) // AMAP_SPAN
        eof = span_start(spans)
        self.file.write(self.chunk)
        self.chunk = bytearray()
        self.file.truncate(eof)
        free_bytes, fill = self._write_maps(spans, used_end)
        header = self._header(eof, spans, free_bytes, fill, nbt_root, bbt_root, nid_counters,
                              unique)
        self.file.seek(0)
        self.file.write(header)
        self.file.close()
        return eof

    def _write_maps(self, spans, used_end):
        """Every AMap with its bits (one per 64 bytes, set where allocated), a PMap,
        FMap or FPMap where one goes; the free bytes and each AMap's longest free
        run (in 64-byte units, at most 255)."""
        slots = AMAP_SPAN // 64
        free_by_span = {}
        for start, end in self.free:
            while start < end:
                k = (start - AMAP_FIRST) // AMAP_SPAN
                stop = min(end, span_start(k + 1))
                free_by_span.setdefault(k, []).append((start, stop))
                start = stop
        total_free, fill, amaps = 0, [], []
        for k in range(spans):
            base = span_start(k)
            bits = bytearray(b"1" * slots)
            tail = max(0, (used_end - base + 63) // 64)
            if tail < slots:
                bits[tail:] = b"0" * (slots - tail)
            for start, stop in free_by_span.get(k, ()):
                bits[(start - base) // 64:(stop - base) // 64] = b"0" * ((stop - start) // 64)
            own = PAGE // 64 * len(map_pages(k))
            bits[:own] = b"1" * own
            total_free += bits.count(b"0") * 64
            fill.append(min(255, max((len(run) for run in bits.split(b"1")), default=0)))
            amaps.append(int(bits, 2).to_bytes(496, "big"))
        for k in range(spans):
            for n, kind in enumerate(map_pages(k)):
                ib = span_start(k) + n * PAGE
                if kind == 0x84:
                    content = amaps[k]
                elif kind == 0x82:  # one byte per AMap it covers, from this one on
                    content = bytes(fill[k:k + 496]).ljust(496, b"\0")
                else:               # PMap and FPMap: no free pages kept for the B-trees
                    content = b"\xff" * 496
                self.file.seek(ib)
                self.file.write(content + struct.pack("<BBHIQ", kind, kind, 0, crc32(content), ib))
        return total_free, fill

    def _header(self, eof, spans, free_bytes, fill, nbt_root, bbt_root, nid_counters, unique):
        root = struct.pack("<IQQQQQQQQBBH", 0, eof, span_start(spans - 1), free_bytes, 0,
                           nbt_root[0], nbt_root[1], bbt_root[0], bbt_root[1], 2, 0, 0)
        fm = bytes(fill[:128]).ljust(128, b"\0")
        body = struct.pack("<HHHBBII", 0x4D53, 23, 19, 1, 1, 0, 0)
        body += struct.pack("<QQI", 0, self.next_bid, unique)
        body += struct.pack("<32I", *nid_counters) + bytes(8) + root + bytes(4)
        body += fm + b"\xff" * 128 + struct.pack("<BBH", 0x80, 0, 0)
        body += struct.pack("<Q", self.next_bid)
        assert len(body) == 516
        partial = crc32(body[:471])
        return (b"!BDN" + struct.pack("<I", partial) + body + struct.pack("<I", crc32(body))
                + bytes(36))


# -- heaps and what is built on them -----------------------------------------
FILL_STEPS = (3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8)


def fill_level(free):
    for n, least in enumerate(FILL_STEPS):
        if free >= least:
            return n
    return 15


class Heap:
    """A heap on a node: allocations in blocks of at most BLOCK_DATA_MAX bytes,
    each block with its page map."""

    def __init__(self, client):
        self.client = client
        self.blocks = [[]]

    @staticmethod
    def _header_size(index):
        if index == 0:
            return 12
        return 66 if (index - 8) % 128 == 0 else 2

    def _room(self, index, allocs, extra):
        used = self._header_size(index) + sum(len(a) for a in allocs) + extra
        return used + used % 2 + 4 + 2 * (len(allocs) + 2) <= BLOCK_DATA_MAX

    def alloc(self, data):
        assert 0 < len(data) <= HEAP_ALLOC_MAX
        if not self._room(len(self.blocks) - 1, self.blocks[-1], len(data)):
            self.blocks.append([])
        index = len(self.blocks) - 1
        self.blocks[index].append(bytes(data))
        return (len(self.blocks[index]) << 5) | (index << 16)

    def finish(self, user_root):
        """The heap's blocks, each its bytes."""
        out, free = [], []
        for index, allocs in enumerate(self.blocks):
            start = self._header_size(index)
            offsets, at = [], start
            for a in allocs:
                offsets.append(at)
                at += len(a)
            offsets.append(at)
            pad = at % 2
            page_map = struct.pack("<HH%dH" % len(offsets), len(allocs), 0, *offsets)
            free.append(BLOCK_DATA_MAX - (at + pad + len(page_map)))
            out.append([at + pad, b"".join(allocs) + bytes(pad) + page_map])
        blocks = []
        for index, (ib_map, body) in enumerate(out):
            if index == 0:
                levels = self._levels(free[0:8], 4)
                head = struct.pack("<HBBI", ib_map, 0xEC, self.client, user_root) + levels
            elif self._header_size(index) == 66:
                head = struct.pack("<H", ib_map) + self._levels(free[index:index + 128], 64)
            else:
                head = struct.pack("<H", ib_map)
            blocks.append(head + body)
        return blocks

    @staticmethod
    def _levels(free, size):
        nibbles = [fill_level(f) for f in free] + [0] * (2 * size - len(free))
        return bytes(nibbles[i] | (nibbles[i + 1] << 4) for i in range(0, 2 * size, 2))


def bth(heap, key_size, records):
    """A B-tree on the heap over sorted (key bytes, value bytes); its header's hid."""
    value_size = len(records[0][1]) if records else (6 if key_size == 2 else 4)
    level, rows = 0, [k + v for k, v in records]
    root = 0
    while rows:
        per = HEAP_ALLOC_MAX // len(rows[0])
        groups = [rows[i:i + per] for i in range(0, len(rows), per)]
        hids = [heap.alloc(b"".join(g)) for g in groups]
        if len(hids) == 1:
            root = hids[0]
            break
        rows = [g[0][:key_size] + struct.pack("<I", h) for g, h in zip(groups, hids)]
        level += 1
    return heap.alloc(struct.pack("<BBBBI", 0xB5, key_size, value_size, level, root))


class Subnodes:
    """The subnodes of one node as it is built: large values, tables, attachments."""

    def __init__(self, writer):
        self.writer = writer
        self.entries = []
        self.next_index = {}

    def new_nid(self, kind):
        index = self.next_index.get(kind, 0x400)
        self.next_index[kind] = index + 1
        return (index << 5) | kind

    def add(self, nid, bid_data, bid_sub=0):
        self.entries.append((nid, bid_data, bid_sub))

    def value(self, data):
        nid = self.new_nid(NID_TYPE_LTP)
        self.add(nid, self.writer.data(data))
        return nid

    def finish(self):
        return self.writer.subnodes(self.entries)


def encode(ptype, value):
    if ptype == PT_UNICODE:
        return value.encode("utf-16-le")
    if ptype == PT_BINARY:
        return bytes(value)
    if ptype in (PT_SYSTIME, PT_INT64):
        return struct.pack("<q", value)
    if ptype == PT_BOOL:
        return struct.pack("<B", 1 if value else 0)
    if ptype == PT_INT16:
        return struct.pack("<h", value)
    return struct.pack("<i", value)


def variable_hnid(heap, subnodes, data):
    """A string or binary value: in the heap when it fits, else a subnode."""
    if not data:
        return 0
    if len(data) <= HEAP_ALLOC_MAX:
        return heap.alloc(data)
    return subnodes.value(data)


def property_context(writer, props, subnodes):
    """A property context over (tag, type, value); its data tree's bid. Large
    values become subnodes in `subnodes`."""
    heap = Heap(0xBC)
    records = []
    for tag, ptype, value in sorted(props, key=lambda p: p[0]):
        if value in (None, "", b""):
            continue
        data = encode(ptype, value)
        if ptype in (PT_INT16, PT_INT32, PT_BOOL):
            cell = data.ljust(4, b"\0")
        elif ptype in (PT_SYSTIME, PT_INT64):
            cell = struct.pack("<I", heap.alloc(data))
        else:
            cell = struct.pack("<I", variable_hnid(heap, subnodes, data))
        records.append((struct.pack("<H", tag), struct.pack("<H", ptype) + cell))
    root = bth(heap, 2, records)
    return writer.tree(heap.finish(root))


CELL_SIZE = {PT_INT16: 2, PT_INT32: 4, PT_BOOL: 1, PT_INT64: 8, PT_SYSTIME: 8}


def table_context(writer, columns, rows, subnodes):
    """A table context: `columns` are (tag, type); each row is a dict by tag and
    names its row id (0x67F2). Its data tree's bid; the row matrix becomes a
    subnode in `subnodes` when it is larger than a heap allocation."""
    columns = sorted(set(columns) | {(0x67F2, PT_INT32), (0x67F3, PT_INT32)})
    order = [(0x67F2, PT_INT32), (0x67F3, PT_INT32)] + [
        c for c in columns if c[0] not in (0x67F2, 0x67F3)]
    layout, offset, bounds = {}, 0, []
    for sizes in ((8, 4), (2,), (1,)):
        for tag, ptype in order:
            size = CELL_SIZE.get(ptype, 4)
            if size in sizes:
                layout[tag] = (offset, size, ptype)
                offset += size
        bounds.append(offset)
    bit = {tag: n for n, (tag, _) in enumerate(order)}
    row_size = offset + (len(order) + 7) // 8
    bounds.append(row_size)
    heap = Heap(0x7C)
    packed = []
    for row in rows:
        row = {0x67F3: 0, **row}
        cells = bytearray(row_size)
        for tag, (at, size, ptype) in layout.items():
            if row.get(tag) in (None, ""):
                continue
            data = encode(ptype, row[tag])
            if size == 4 and ptype in (PT_UNICODE, PT_BINARY):
                data = struct.pack("<I", variable_hnid(heap, subnodes, data))
            cells[at:at + size] = data
            cells[offset + bit[tag] // 8] |= 0x80 >> (bit[tag] % 8)
        packed.append(bytes(cells))
    index = sorted((struct.pack("<I", row[0x67F2]), struct.pack("<I", n))
                   for n, row in enumerate(rows))
    row_index = bth(heap, 4, index)
    per_block = BLOCK_DATA_MAX // row_size
    if packed and row_size * len(packed) <= HEAP_ALLOC_MAX:
        rows_hnid = heap.alloc(b"".join(packed))
    elif packed:
        chunks = [b"".join(packed[i:i + per_block]) for i in range(0, len(packed), per_block)]
        chunks = [c.ljust(BLOCK_DATA_MAX, b"\0") for c in chunks[:-1]] + chunks[-1:]
        rows_hnid = subnodes.new_nid(NID_TYPE_LTP)
        subnodes.add(rows_hnid, writer.tree(chunks))
    else:
        rows_hnid = 0
    info = struct.pack("<BB4HIII", 0x7C, len(order), *bounds, row_index, rows_hnid, 0)
    info += b"".join(struct.pack("<IHBB", (tag << 16) | ptype, layout[tag][0], layout[tag][1],
                                 bit[tag]) for tag, ptype in columns)
    return writer.tree(heap.finish(heap.alloc(info)))
