// Reads an MCAP file with the MCAP project's own TypeScript reader and checks
// it as a robotics tool would take it: the summary's indexes against the
// chunks, the CRCs, every message decoded by its channel's schema, the
// stamps, and the LaserScans' shape. Prints what it found as one JSON line;
// exits 1, saying why, at the first fault.
//
// Usage: node check-mcap.mjs FILE [--cut] [--dump-records OUT]
//   --cut               the file was cut short (no summary, as after a power
//                       cut or a full disk): it is read from start to end, and
//                       must end after a complete record
//   --dump-records OUT  writes the /records channel's words, in order, to OUT
//                       as little-endian 16-bit words (18 a record)

import { open } from "node:fs/promises";
import { writeFileSync } from "node:fs";
import { McapIndexedReader, McapStreamReader } from "@mcap/core";
import { loadDecompressHandlers } from "@mcap/support";
import { parse } from "@foxglove/rosmsg";
import { MessageReader } from "@foxglove/rosmsg2-serialization";
import { crc32 } from "@foxglove/crc";

const WORDS_PER_RECORD = 18;
// The channels' names without a namespace, the longest first.
const TOPICS = ["/imu/temperature", "/temperature", "/records", "/scan", "/imu", "/mag"];

function fail(why) {
  console.error(`check-mcap: ${why}`);
  process.exit(1);
}
function expect(condition, why) {
  if (!condition) fail(why);
}

const args = process.argv.slice(2);
const file = args[0];
const dumpAt = args.indexOf("--dump-records");
const dumpPath = dumpAt >= 0 ? args[dumpAt + 1] : undefined;
const cut = args.includes("--cut");
expect(file, "no file given");

const handle = await open(file, "r");
const size = BigInt((await handle.stat()).size);
const readable = {
  size: async () => size,
  read: async (offset, length) => {
    const buffer = new Uint8Array(Number(length));
    const { bytesRead } = await handle.read(buffer, 0, buffer.length, Number(offset));
    expect(bytesRead === buffer.length, `short read at ${offset}`);
    return buffer;
  },
};
const decompressHandlers = await loadDecompressHandlers();
const whole = await readable.read(0n, size);

// Each channel's decoder, from its schema.
const decoders = new Map();
function addChannel(channel, schema) {
  expect(schema, `channel ${channel.topic} without its schema`);
  expect(channel.messageEncoding === "cdr", `${channel.topic}: message encoding ${channel.messageEncoding}`);
  expect(schema.encoding === "ros2msg", `${channel.topic}: schema encoding ${schema.encoding}`);
  expect(channel.metadata.get("offered_qos_profiles")?.includes("reliability:"), `${channel.topic}: no QoS`);
  const text = new TextDecoder().decode(schema.data);
  decoders.set(channel.id, { topic: channel.topic, reader: new MessageReader(parse(text, { ros2: true })) });
}

// Every message, in log time order.
const counts = {};
const lastLog = new Map();
const lastStamp = new Map();
let messages = 0;
let records = 0;
let lastBatch = -1n;
const words = [];
const stampNs = (stamp) => BigInt(stamp.sec) * 1000000000n + BigInt(stamp.nanosec);
function checkMessage(message) {
  const decoder = decoders.get(message.channelId);
  expect(decoder, `message on unknown channel ${message.channelId}`);
  const { topic: name } = decoder;
  // "/scan", or "/NS/scan" under a namespace: checked by what it is.
  const topic = TOPICS.find((known) => name.endsWith(known)) ?? name;
  const value = decoder.reader.readMessage(message.data);
  expect(!decoder.reader.lastReadHadTrailingBytes(), `${topic}: bytes left over after the message`);
  messages += 1;
  counts[name] = (counts[name] ?? 0) + 1;
  expect(message.logTime >= (lastLog.get(name) ?? 0n), `${name}: log time goes back`);
  lastLog.set(name, message.logTime);
  const stamp = stampNs(value.header.stamp);
  expect(message.publishTime === stamp, `${topic}: publish time is not the stamp`);
  if (topic !== "/records") {
    expect(stamp > (lastStamp.get(name) ?? -1n), `${name}: stamp does not advance`);
    lastStamp.set(name, stamp);
  }
  if (topic === "/scan") {
    expect(value.ranges.length === 2000 && value.intensities.length === 2000, "a scan not of 2000 points");
    expect(value.angle_min >= -Math.PI && value.angle_min < -Math.PI + 1e-6, `angle_min ${value.angle_min}`);
    const last = value.angle_min + 1999 * value.angle_increment;
    expect(Math.abs(value.angle_max - last) < 1e-5 && value.angle_max <= Math.PI, `angle_max ${value.angle_max}`);
  } else if (topic === "/records") {
    expect(value.words.length % WORDS_PER_RECORD === 0, "a batch of part of a record");
    expect(BigInt(value.batch) === lastBatch + 1n, `batch ${value.batch} after ${lastBatch}`);
    lastBatch = BigInt(value.batch);
    records += value.words.length / WORDS_PER_RECORD;
    if (dumpPath) words.push(Uint16Array.from(value.words));
  } else if (topic === "/imu") {
    expect(value.orientation_covariance[0] === -1, "an orientation said to be measured");
  }
}

function finish(extra) {
  if (dumpPath) {
    const all = new Uint16Array(records * WORDS_PER_RECORD);
    let at = 0;
    for (const batch of words) {
      all.set(batch, at);
      at += batch.length;
    }
    writeFileSync(dumpPath, Buffer.from(all.buffer));
  }
  console.log(JSON.stringify({ messages, records, topics: counts, ...extra }));
}

if (cut) {
  // Read as a stream, as far as it goes: what it holds must end after a
  // complete record, and a complete chunk.
  const stream = new McapStreamReader({ decompressHandlers, validateCrcs: true });
  stream.append(whole);
  const schemas = new Map();
  for (let record; (record = stream.nextRecord()); ) {
    if (record.type === "Schema") schemas.set(record.id, record);
    if (record.type === "Channel") addChannel(record, schemas.get(record.schemaId));
    if (record.type === "Message") checkMessage(record);
    expect(record.type !== "Footer" && record.type !== "DataEnd", `a cut file with its ${record.type}`);
  }
  expect(!stream.done() && stream.bytesRemaining() === 0, "the file does not end after a complete record");
  await handle.close();
  finish({ cut: true });
  process.exit(0);
}

const reader = await McapIndexedReader.Initialize({ readable, decompressHandlers });
// The file's frame.
expect(reader.header.profile === "ros2", `profile "${reader.header.profile}"`);
expect(reader.header.library.startsWith("skarv"), `library "${reader.header.library}"`);
expect(reader.dataSectionCrc !== undefined && reader.dataSectionCrc !== 0, "no data section CRC");
expect(crc32(whole.subarray(0, Number(reader.dataEndOffset))) === reader.dataSectionCrc, "data section CRC");
const summaryStart = Number(reader.footer.summaryStart);
expect(summaryStart > 0, "no summary");
expect(crc32(whole.subarray(summaryStart, whole.length - 8 - 4)) === reader.footer.summaryCrc, "summary CRC");

// Each chunk index points at its chunk and at its message indexes.
const view = new DataView(whole.buffer, whole.byteOffset, whole.byteLength);
for (const index of reader.chunkIndexes) {
  const at = Number(index.chunkStartOffset);
  expect(whole[at] === 0x06, `no chunk at ${at}`);
  expect(view.getBigUint64(at + 1, true) === index.chunkLength - 9n, `chunk length at ${at}`);
  expect(index.compression === "zstd", `chunk compression "${index.compression}"`);
  let indexBytes = 0n;
  for (const [, offset] of index.messageIndexOffsets) {
    expect(whole[Number(offset)] === 0x07, `no message index at ${offset}`);
    indexBytes += 9n + view.getBigUint64(Number(offset) + 1, true);
  }
  expect(indexBytes === index.messageIndexLength, `message index length after chunk ${at}`);
}

// Channels and schemas.
for (const channel of reader.channelsById.values()) addChannel(channel, reader.schemasById.get(channel.schemaId));
for await (const message of reader.readMessages({ validateCrcs: true })) checkMessage(message);

// The statistics against what was read.
const stats = reader.statistics;
expect(stats, "no statistics");
expect(stats.messageCount === BigInt(messages), `statistics: ${stats.messageCount} messages, read ${messages}`);
expect(stats.chunkCount === reader.chunkIndexes.length, "statistics: chunk count");
for (const [id, count] of stats.channelMessageCounts) {
  const topic = decoders.get(id).topic;
  expect(count === BigInt(counts[topic] ?? 0), `statistics: ${topic} count`);
}
const metadata = [];
for await (const record of reader.readMetadata({ name: "skarv" })) metadata.push(record);
expect(metadata.length === 1 && metadata[0].metadata.has("serial"), "no skarv metadata with the serial");

// The same file read from start to end, as a stream.
const stream = new McapStreamReader({ decompressHandlers, validateCrcs: true });
stream.append(whole);
let streamed = 0;
for (let record; (record = stream.nextRecord()); ) {
  if (record.type === "Message") streamed += 1;
}
expect(stream.done(), "the stream reader did not reach the end");
expect(streamed === messages, `the stream holds ${streamed} messages, the index ${messages}`);

await handle.close();
finish({ chunks: reader.chunkIndexes.length, serial: metadata[0].metadata.get("serial") });
