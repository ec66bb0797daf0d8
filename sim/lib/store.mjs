// What the service remembers: conversations with their messages and the crew each one was
// told about, the signed-in sessions and the profile. Kept in memory and written to
// state.json in the state folder (atomically, after changes) so a restart shows the same
// conversations and keeps a browser's sign-in valid.

import { randomBytes, randomUUID } from 'node:crypto';
import { existsSync, readFileSync, renameSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

export const DEFAULT_PROFILE = { name: 'Dot', color: '#6d5efc' };

export class Store {
  constructor({ stateDir, persist = true }) {
    this.file = stateDir ? join(stateDir, 'state.json') : null;
    this.persist = persist && this.file !== null;
    this.saveTimer = null;
    this.clear();
    if (this.persist && existsSync(this.file)) this.load();
  }

  clear() {
    this.conversations = new Map(); // lower-cased id -> conversation
    this.sessions = new Set();
    this.profile = { ...DEFAULT_PROFILE };
    this.files = new Map(); // id -> {id, name, type, data (Buffer)}
  }

  load() {
    let saved;
    try {
      saved = JSON.parse(readFileSync(this.file, 'utf8'));
    } catch (error) {
      throw new Error(`The simulator state ${this.file} could not be read: ${error.message}`);
    }
    for (const conversation of saved.conversations ?? []) {
      conversation.busy = false;
      // An answer that was streaming when the simulator stopped ends where it was.
      for (const message of conversation.messages) if (message.status === 'streaming') message.status = 'stopped';
      this.conversations.set(conversation.id.toLowerCase(), conversation);
    }
    for (const token of saved.sessions ?? []) this.sessions.add(token);
    if (saved.profile) this.profile = { ...DEFAULT_PROFILE, ...saved.profile };
    for (const file of saved.files ?? []) this.files.set(file.id, { ...file, data: Buffer.from(file.data, 'base64') });
  }

  snapshot() {
    return {
      conversations: [...this.conversations.values()].map(({ job, ...rest }) => rest),
      sessions: [...this.sessions],
      profile: this.profile,
      files: [...this.files.values()].map((file) => ({ ...file, data: file.data.toString('base64') })),
    };
  }

  // Saves soon; many changes during one streamed answer make one write.
  changed() {
    if (!this.persist || this.saveTimer) return;
    this.saveTimer = setTimeout(() => {
      this.saveTimer = null;
      this.saveNow();
    }, 200);
  }

  saveNow() {
    if (!this.persist) return;
    if (this.saveTimer) {
      clearTimeout(this.saveTimer);
      this.saveTimer = null;
    }
    const temporary = `${this.file}.${process.pid}.tmp`;
    writeFileSync(temporary, JSON.stringify(this.snapshot()), { mode: 0o600 });
    renameSync(temporary, this.file);
  }

  conversation(id) {
    return this.conversations.get(String(id).toLowerCase()) ?? null;
  }

  // `fixedId` names the one conversation that lives at /dots/home when home is a conversation.
  createConversation(uuidCase, fixedId = null) {
    const raw = randomUUID();
    const id = fixedId ?? (uuidCase === 'upper' ? raw.toUpperCase() : raw);
    const now = Date.now();
    const conversation = { id, title: 'New chat', createdAt: now, updatedAt: now, messages: [], crew: null, busy: false };
    this.conversations.set(id.toLowerCase(), conversation);
    return conversation;
  }

  newSession() {
    const token = randomBytes(24).toString('base64url');
    this.sessions.add(token);
    return token;
  }

  addFile({ name, type, data }) {
    const id = `file-${randomUUID()}`;
    const file = { id, name, type, data };
    this.files.set(id, file);
    return file;
  }
}

export function newMessage(role, fields = {}) {
  return {
    id: randomUUID(),
    role,
    text: '',
    html: '',
    attachments: [],
    status: 'done',
    createdAt: Date.now(),
    ...fields,
  };
}
