#!/usr/bin/env node
// A loopback model for the real agents in `make test-agents`: it speaks the
// Anthropic Messages API (Claude Code) and the OpenAI Responses API (Codex),
// both streamed as server-sent events, on 127.0.0.1 at a free port, and plays
// scripted turns chosen by a keyword in the user's latest prompt:
//
//   brindleaf-bash      Claude: a Bash call that needs the user's permission
//   brindleaf-question  Claude: AskUserQuestion; Codex: request_user_input
//   brindleaf-escalate  Codex: an escalated `sleep 1` (the user allows it for
//                       good), then an escalated `sleep 15` the rule allows
//   anything else       a plain final answer
//
// Each step follows from the conversation the agent sends back (how many tool
// results came after the prompt), so the stub keeps no state between requests.
// Requests the script does not know (titles, summaries, token counts, model
// lists) get a short plain answer. Node's standard library only.
//
// Usage: model-stub.js PORT_FILE [LOG_FILE]
// Writes the port it listens on into PORT_FILE once it listens; logs one line
// per request into LOG_FILE (and each request body into LOG_FILE.bodies/ when
// STUB_DUMP_BODIES is set).
'use strict';

const http = require('http');
const fs = require('fs');
const path = require('path');

const portFile = process.argv[2];
const logFile = process.argv[3];
let requestCount = 0;
// How long the final answer after a tool result takes: the agent works
// visibly after the user's answer.
const answerPauseMs = Number(process.env.STUB_ANSWER_PAUSE_MS || 3000);

function log(line) {
  if (logFile) fs.appendFileSync(logFile, `${new Date().toISOString()} ${line}\n`);
}

function dumpBody(kind, body) {
  if (!logFile || !process.env.STUB_DUMP_BODIES) return;
  const dir = `${logFile}.bodies`;
  fs.mkdirSync(dir, {recursive: true});
  fs.writeFileSync(path.join(dir, `${String(requestCount).padStart(3, '0')}-${kind}.json`),
                   JSON.stringify(body, null, 1));
}

// Sends the first event at once and the rest after pauseMs, as a model that
// thinks a while before it answers.
function sse(res, events, pauseMs = 0) {
  res.writeHead(200, {'content-type': 'text/event-stream', 'cache-control': 'no-cache'});
  const send = ([name, data]) => res.write(`event: ${name}\ndata: ${JSON.stringify(data)}\n\n`);
  send(events[0]);
  setTimeout(() => {
    events.slice(1).forEach(send);
    res.end();
  }, pauseMs);
}

function json(res, status, value) {
  const text = JSON.stringify(value);
  res.writeHead(status, {'content-type': 'application/json', 'content-length': Buffer.byteLength(text)});
  res.end(text);
}

// ---- Anthropic Messages API ------------------------------------------------

function textOf(content) {
  if (typeof content === 'string') return content;
  if (!Array.isArray(content)) return '';
  return content.filter((b) => b && b.type === 'text').map((b) => b.text).join('\n');
}

// The user's latest typed prompt and how many tool results came after it.
function claudeScriptPosition(messages) {
  let results = 0;
  for (let i = messages.length - 1; i >= 0; --i) {
    const m = messages[i];
    if (m.role !== 'user') continue;
    const blocks = Array.isArray(m.content) ? m.content : [];
    const hasResult = blocks.some((b) => b && b.type === 'tool_result');
    if (hasResult) {
      ++results;
      continue;
    }
    const text = textOf(m.content);
    // Claude Code sends reminders as their own text blocks; a prompt is a
    // user message with no tool result.
    return {prompt: text, results};
  }
  return {prompt: '', results};
}

function claudeStep(body) {
  const tools = (body.tools || []).map((t) => t.name);
  const {prompt, results} = claudeScriptPosition(body.messages || []);
  if (!tools.includes('Bash')) return {text: 'Stub reply.'};
  if (prompt.includes('brindleaf-bash') && results === 0) {
    return {
      tool: 'Bash',
      input: {
        command: 'sleep 3 && mkdir -p stub-made && date > stub-made/when',
        description: 'Wait a little, then write the date into stub-made/when',
      },
    };
  }
  if (prompt.includes('brindleaf-question') && results === 0) {
    return {
      tool: 'AskUserQuestion',
      input: {
        questions: [{
          question: 'Which colour should the stub paint?',
          header: 'Colour',
          options: [
            {label: 'Green', description: 'Paint it green'},
            {label: 'Blue', description: 'Paint it blue'},
          ],
          multiSelect: false,
        }],
      },
    };
  }
  return {text: `Stub finished (${results} tool results).`, pauseMs: results ? answerPauseMs : 0};
}

function claudeReply(req, res, body) {
  const step = claudeStep(body);
  const id = `msg_stub_${requestCount}`;
  const model = body.model || 'claude-stub';
  log(`claude ${step.tool ? `tool ${step.tool}` : 'text'} model=${model} stream=${!!body.stream}`);
  const block = step.tool ? {type: 'tool_use', id: `toolu_stub_${requestCount}`, name: step.tool, input: step.input}
                          : {type: 'text', text: step.text};
  const stopReason = step.tool ? 'tool_use' : 'end_turn';
  const usage = {input_tokens: 12, output_tokens: 8, cache_creation_input_tokens: 0, cache_read_input_tokens: 0};
  if (!body.stream) {
    json(res, 200, {id, type: 'message', role: 'assistant', model, content: [block], stop_reason: stopReason,
                    stop_sequence: null, usage});
    return;
  }
  const start = step.tool ? {type: 'tool_use', id: block.id, name: block.name, input: {}} : {type: 'text', text: ''};
  const delta = step.tool ? {type: 'input_json_delta', partial_json: JSON.stringify(step.input)}
                          : {type: 'text_delta', text: step.text};
  sse(res, [
    ['message_start', {type: 'message_start', message: {id, type: 'message', role: 'assistant', model, content: [],
                                                         stop_reason: null, stop_sequence: null, usage}}],
    ['content_block_start', {type: 'content_block_start', index: 0, content_block: start}],
    ['content_block_delta', {type: 'content_block_delta', index: 0, delta}],
    ['content_block_stop', {type: 'content_block_stop', index: 0}],
    ['message_delta', {type: 'message_delta', delta: {stop_reason: stopReason, stop_sequence: null},
                       usage: {output_tokens: 8}}],
    ['message_stop', {type: 'message_stop'}],
  ], step.pauseMs);
}

// ---- OpenAI Responses API --------------------------------------------------

function codexScriptPosition(input) {
  let results = 0;
  for (let i = input.length - 1; i >= 0; --i) {
    const item = input[i];
    if (item.type === 'function_call_output' || item.type === 'custom_tool_call_output') ++results;
    if (item.type === 'message' && item.role === 'user') {
      const text = (item.content || []).map((c) => c.text || '').join('\n');
      // Codex sends its environment and instructions as user messages too.
      if (text.includes('brindleaf-')) return {prompt: text, results};
    }
  }
  return {prompt: '', results};
}

// A shell call in whichever shell tool this Codex offers. An escalated call
// proposes its first word as the prefix the user may allow for good.
function shellCall(tools, argv, escalated) {
  const names = tools.map((t) => t.name);
  const extra = escalated ? {sandbox_permissions: 'require_escalated',
                             justification: 'The stub needs this outside the sandbox.', prefix_rule: [argv[0]]}
                          : {};
  if (names.includes('shell')) {
    return {name: 'shell', args: {command: argv, workdir: undefined, timeout_ms: 60000, ...extra}};
  }
  if (names.includes('shell_command')) {
    return {name: 'shell_command', args: {command: argv.join(' '), timeout_ms: 60000, ...extra}};
  }
  if (names.includes('exec_command')) {
    return {name: 'exec_command', args: {cmd: argv.join(' '), yield_time_ms: 30000, ...extra}};
  }
  return null;
}

function codexStep(body) {
  const tools = (body.tools || []).filter((t) => t.type === 'function' || t.name);
  const {prompt, results} = codexScriptPosition(body.input || []);
  if (!tools.length) return {text: 'Stub reply.'};
  if (prompt.includes('brindleaf-escalate') && results < 2) {
    const call = shellCall(tools, ['sleep', results === 0 ? '1' : '15'], true);
    if (call) return call;
  }
  if (prompt.includes('brindleaf-question') && results === 0 &&
      tools.some((t) => t.name === 'request_user_input')) {
    return {
      name: 'request_user_input',
      args: {
        questions: [{
          id: 'colour',
          header: 'Colour',
          question: 'Which colour should the stub paint?',
          options: [
            {label: 'Green (Recommended)', description: 'Paint it green'},
            {label: 'Blue', description: 'Paint it blue'},
          ],
        }],
      },
    };
  }
  return {text: `Stub finished (${results} tool results).`, pauseMs: results ? answerPauseMs : 0};
}

function codexReply(req, res, body) {
  const step = codexStep(body);
  const id = `resp_stub_${requestCount}`;
  log(`codex ${step.name ? `call ${step.name} ${JSON.stringify(step.args)}` : 'text'} model=${body.model}`);
  const item = step.name
      ? {type: 'function_call', id: `fc_stub_${requestCount}`, call_id: `call_stub_${requestCount}`, name: step.name,
         arguments: JSON.stringify(step.args)}
      : {type: 'message', id: `msg_stub_${requestCount}`, role: 'assistant', status: 'completed',
         content: [{type: 'output_text', text: step.text, annotations: []}]};
  const usage = {input_tokens: 12, input_tokens_details: {cached_tokens: 0}, output_tokens: 8,
                 output_tokens_details: {reasoning_tokens: 0}, total_tokens: 20};
  sse(res, [
    ['response.created', {type: 'response.created', response: {id, object: 'response', status: 'in_progress'}}],
    ['response.output_item.added', {type: 'response.output_item.added', output_index: 0, item}],
    ['response.output_item.done', {type: 'response.output_item.done', output_index: 0, item}],
    ['response.completed', {type: 'response.completed',
                            response: {id, object: 'response', status: 'completed', output: [item], usage}}],
  ], step.pauseMs);
}

// ---- Server ----------------------------------------------------------------

const server = http.createServer((req, res) => {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => {
    ++requestCount;
    const url = req.url.split('?')[0];
    let body = {};
    try {
      body = chunks.length ? JSON.parse(Buffer.concat(chunks).toString('utf8')) : {};
    } catch (e) {
      log(`${req.method} ${url} unparsable body`);
    }
    log(`${req.method} ${url}`);
    if (req.method === 'POST' && url.endsWith('/messages/count_tokens')) {
      json(res, 200, {input_tokens: 12});
    } else if (req.method === 'POST' && url.endsWith('/messages')) {
      dumpBody('messages', body);
      claudeReply(req, res, body);
    } else if (req.method === 'POST' && url.endsWith('/responses')) {
      dumpBody('responses', body);
      codexReply(req, res, body);
    } else if (req.method === 'GET' && url.endsWith('/models')) {
      json(res, 200, {object: 'list', data: [], models: []});
    } else {
      json(res, 404, {error: {type: 'not_found_error', message: `The stub has no ${url}`}});
    }
  });
});

server.listen(0, '127.0.0.1', () => {
  const {port} = server.address();
  fs.writeFileSync(`${portFile}.tmp`, `${port}\n`);
  fs.renameSync(`${portFile}.tmp`, portFile);
  log(`listening on 127.0.0.1:${port}`);
});

for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
