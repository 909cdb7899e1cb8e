// Starts the worker, and with it the loading of the WebAssembly core, while
// the page's much larger script is still on its way: a separate script the
// page runs as soon as it has it. It asks the worker at once whether the
// core has loaded, so that the question is waiting when the core is: the
// answer then comes before the core's warm-up, which takes the worker for a
// while right after loading, rather than after it. main.js takes the worker
// over from here; it imports this file too, which does nothing a second
// time, so that the page starts even if this script ran late or not at all.
import { startWorker } from "./start_worker.js";
import { WorkerClient } from "./worker_client.js";

if (!globalThis.smfasmBoot) {
  const worker = startWorker();
  const client = new WorkerClient(worker);
  globalThis.smfasmWorker = worker;
  globalThis.smfasmBoot = { client, started: client.request("start") };
}
