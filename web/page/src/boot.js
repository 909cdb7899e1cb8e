// Starts the worker, and with it the loading of the WebAssembly core, while
// the page's much larger script is still on its way: a separate script the
// page runs first. main.js takes the worker over from here.
import { startWorker } from "./start_worker.js";

globalThis.smfasmWorker = startWorker();
