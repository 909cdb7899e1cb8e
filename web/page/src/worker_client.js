// The page's side of the worker protocol: requests carry an id, and the
// worker answers each with any number of "piece" messages (parts of a
// listing, in order, as UTF-8 bytes) and then one closing message, whose kind says how it
// ended ("done", "assembled", "refused" or "failed").
const decoder = new TextDecoder();

export class WorkerClient {
  constructor(worker) {
    this.worker = worker;
    this.nextId = 1;
    this.pending = new Map();
    this.worker.onmessage = ({ data }) => this.#received(data);
    this.worker.onerror = (event) => this.#failAll(event.message || "the worker stopped");
  }

  // Resolves with the closing message; onPiece gets each piece before it.
  request(op, payload = {}, { onPiece = () => {}, transfer = [] } = {}) {
    const id = this.nextId++;
    this.worker.postMessage({ op, id, ...payload }, transfer);
    return new Promise((resolve) => this.pending.set(id, { resolve, onPiece }));
  }

  // A request that gets no answer unless it fails.
  send(op, payload = {}) {
    this.worker.postMessage({ op, id: 0, ...payload });
  }

  #received(message) {
    const waiting = this.pending.get(message.id);
    if (!waiting) {
      if (message.kind === "failed") console.error(message.error);
      return;
    }
    if (message.kind === "piece") {
      waiting.onPiece(decoder.decode(message.bytes));
      return;
    }
    this.pending.delete(message.id);
    waiting.resolve(message);
  }

  #failAll(error) {
    for (const [id, waiting] of this.pending) waiting.resolve({ id, kind: "failed", error });
    this.pending.clear();
  }
}
