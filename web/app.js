// The page of `ai-players serve`: the persona picker, the time a game is
// played at, a new game (its start position checked before the current game
// ends), and the game's buttons. The board and the move list are the game
// view's; every call to the server is in api.js.
import * as api from "./api.js"
import {GameView} from "./game_view.js"
import {showReview, hideReview} from "./review_view.js"
import {toggleYourGames, hideYourGames, suggestedPersona} from "./games_view.js"

const $ = id => document.getElementById(id)
let game = null        // the server's last state of the game
let busy = false       // a request that changes the game is out
let thinking = false   // ... and the persona is choosing its move meanwhile

const view = new GameView({onMove: playMove, onSay: say})

function say(text) { $("status").textContent = text }

const personaToMove = state => !state.result && state.turn !== state.color

// Whether the person has made a move that undo can take back.
function hasOwnMove(state) {
    const firstMover = state.start_fen.split(" ")[1] === "b" ? "black" : "white"
    return state.moves_coord.some((m, i) => (i % 2 === 0) === (firstMover === state.color))
}

function secondsText(ms) {
    if (ms >= 60000 && ms % 60000 === 0) return `${ms / 60000} min`
    return ms % 1000 === 0 ? `${ms / 1000} s` : `${(ms / 1000).toFixed(1)} s`
}

function termsText(state) {
    const t = state.time
    if (t.tc) {
        const [base, increment] = t.tc.split("+")
        return `Clocks: ${secondsText(base * 1000)} each${increment ? `, ${secondsText(increment * 1000)} more a move` : ""}.`
    }
    if (t.think_limit_ms) return `${state.persona} thinks at most ${secondsText(t.think_limit_ms)} a move.`
    return `${state.persona} thinks without a time limit; Move now makes it play.`
}

function statusOf(state, note) {
    const over = state.result
    if (over) return `Game over: ${over.result} (${over.termination})${over.comment ? `. ${over.comment}` : ""}`
    if (personaToMove(state)) return `${state.persona} is to move.`
    return note ? `${note} Your move.` : "Your move."
}

function progressText(state) {
    const t = state.time.thinking
    if (!t) return `${state.persona} is thinking…`
    let text = `${state.persona} is thinking: ${(t.ms / 1000).toFixed(1)} s`
    if (t.search > 1) text += `, search ${t.search}`
    if (t.depth > 0) text += `, depth ${t.depth}`
    return text + "."
}

function replyNote(state) {
    if (!state.reply) return ""
    let note = `${state.persona} played ${state.reply.san}.`
    if (state.reply.note) note += ` (${state.reply.note})`
    return note
}

// Every button says whether it can act now.
function refresh() {
    const live = game && !game.result
    const idle = game && !busy && !thinking
    const yourTurn = live && idle && game.legal.length > 0
    $("move-now").disabled = !thinking
    $("hint").disabled = !yourTurn
    $("draw").disabled = !yourTurn
    $("undo").disabled = !yourTurn || !hasOwnMove(game)
    $("resign").disabled = !(live && idle)
    $("review").disabled = !(idle && game.moves.length)
    $("pgn").classList.toggle("disabled", !game)
    if (game) $("pgn").href = api.pgnUrl(game.id)
    $("terms").textContent = game ? termsText(game) : ""
}

function show(state, note) {
    game = state
    view.show(state)
    say(statusOf(state, note))
    refresh()
    view.setInput(!busy && !thinking)
}

const current = id => game && game.id === id

// A request during which the persona thinks: the page says for how long and
// how deep, and Move now can cut it short. Its answer is none when a new game
// took this one's place meanwhile.
async function whileThinking(request) {
    busy = thinking = true
    view.setInput(false)
    refresh()
    say(`${game.persona} is thinking…`)
    const id = game.id
    const poll = setInterval(async () => {
        try {
            const state = await api.getGame(id)
            if (thinking && state.thinking) {
                say(progressText(state))
                view.setClocks(state)
            }
        } catch (error) { /* the request itself will say what went wrong */ }
    }, 500)
    try {
        const state = await request()
        return current(id) ? state : null
    } catch (error) {
        if (current(id)) throw error
        return null
    } finally {
        clearInterval(poll)
        if (current(id)) busy = thinking = false
    }
}

// After a failed request: the game as the server has it, and the reason.
async function recover(error) {
    busy = thinking = false
    let text = error.message
    if (game) {
        try {
            show(await api.getGame(game.id))
        } catch (again) {
            if (again.status === 404) {
                game = null
                text += " This game is no longer on the server; start a new one."
            }
        }
    }
    say(text)
    refresh()
}

// Your move shows at once; its preview comes with the server's answer, and
// then the persona thinks.
async function playMove(coord) {
    $("preview").textContent = ""
    view.markMove(coord)
    view.showPending(coord)
    busy = true
    view.setInput(false)
    refresh()
    const id = game.id
    try {
        const state = await api.sendMove(id, coord)
        if (!current(id)) return
        busy = false
        show(state)
        $("preview").textContent = state.preview ? state.preview.text : ""
        if (personaToMove(state)) await personaMoves()
    } catch (error) {
        if (current(id)) await recover(error)
    }
}

async function personaMoves() {
    try {
        const state = await whileThinking(() => api.askReply(game.id))
        if (state) show(state, replyNote(state))
    } catch (error) {
        await recover(error)
    }
}

function timeChoice() {
    const [kind, value] = $("time").value.split(":")
    return kind === "tc" ? {tc: value} : {movetime_ms: parseInt(value, 10)}
}

async function newGame(submit) {
    submit.preventDefault()
    if (busy && !thinking) return
    const setup = {persona: $("persona").value, color: $("color").value, await_reply: false, ...timeChoice()}
    const fen = $("fen").value.trim()
    if (fen) {
        try {
            setup.fen = (await api.checkPosition(fen)).fen
        } catch (error) {
            say(`That start position cannot be used: ${error.message}`)
            return
        }
    }
    const old = game
    // A game going on is left only when the player says so; it stays in Your games.
    if (old && !old.result && old.moves.length &&
        !confirm(`Leave the game against ${old.persona}? It stays in Your games, unfinished, and its PGN can be downloaded there.`))
        return
    game = null
    busy = true
    thinking = false
    if (old) await api.endGame(old.id).catch(() => {})
    view.orient(setup.color)
    $("preview").textContent = ""
    hideReview()
    refresh()
    say(`Starting ${setup.persona}…`)
    try {
        const state = await api.createGame(setup)
        busy = false
        show(state)
        if (personaToMove(state)) await personaMoves()
    } catch (error) {
        busy = false
        say(`No new game: ${error.message}`)
        refresh()
    }
}

// A kept game played on: the server rebuilds the persona and replays the
// moves. The game on the board stays kept, and can be continued in turn.
async function continueGame(id) {
    if (busy && !thinking) return
    try {
        const state = await api.continueSaved(id)
        busy = thinking = false
        view.orient(state.color)
        $("preview").textContent = ""
        $("hint-text").textContent = ""
        hideYourGames()
        hideReview()
        show(state, `Game ${id} continued.`)
        if (personaToMove(state)) await personaMoves()
    } catch (error) {
        say(`Game ${id} cannot be continued: ${error.message}`)
    }
}

// The suggested opponent into the picker.
function pickPersona(name) {
    const picker = $("persona")
    if (![...picker.options].some(o => o.value === name)) {
        const option = document.createElement("option")
        option.value = name
        option.textContent = `${name} (suggested)`
        picker.append(option)
    }
    picker.value = name
    hideYourGames()
    picker.focus()
}

// A button that changes the game at once (undo, resign, draw).
async function act(request, note) {
    if (!game || busy) return
    busy = true
    refresh()
    try {
        const state = await request(game.id)
        busy = false
        $("preview").textContent = ""
        show(state, note ? note(state) : "")
    } catch (error) {
        await recover(error)
    }
}

function drawNote(state) {
    return state.draw.accepted ? `${state.persona} accepts the draw.`
        : `${state.persona} declines the draw: ${state.draw.reason}.`
}

async function hint() {
    if (!game || busy) return
    busy = true
    refresh()
    $("hint-text").textContent = "Looking…"
    try {
        const h = await api.hint(game.id)
        view.showHint(h.move)
        $("hint-text").textContent = h.text
    } catch (error) {
        $("hint-text").textContent = error.message
    }
    busy = false
    refresh()
}

// The review: the review view polls the server until every move is judged.
async function review() {
    if (!game || busy) return
    busy = true
    refresh()
    const before = $("status").textContent
    say("Reviewing every move…")
    try {
        $("review-out").hidden = true
        const id = game.id
        showReview(await api.review(id), game.color, () => api.review(id))
    } catch (error) {
        $("review-summary").textContent = error.message
        $("review-out").hidden = false
    }
    say(before)
    busy = false
    refresh()
}

const timeChoices = [
    ["movetime:1000", "1 s a move"], ["movetime:3000", "3 s a move"], ["movetime:10000", "10 s a move"],
    ["movetime:30000", "30 s a move"], ["tc:180+2", "clocks 3 min + 2 s"], ["tc:300+5", "clocks 5 min + 5 s"],
    ["tc:900+10", "clocks 15 min + 10 s"], ["movetime:0", "no limit"]
]

async function loadChoices() {
    const [personas, defaults] = await Promise.all([api.personas(), api.defaults()])
    for (const p of personas) {
        const option = document.createElement("option")
        option.value = p.name
        // One scale: a persona without a measured rating shows none, not its roster number.
        option.textContent = p.measured ? `${p.name} (rated ${p.measured.text})` : `${p.name} (not rated)`
        $("persona").append(option)
    }
    const suggested = await suggestedPersona()
    const known = [...$("persona").options].find(o => o.value === suggested)
    if (known) known.textContent += " · suggested"
    $("persona").value = known ? suggested : "Diana"
    const byDefault = defaults.tc ? `tc:${defaults.tc}` : `movetime:${defaults.think_limit_ms || 0}`
    if (!timeChoices.some(([value]) => value === byDefault)) timeChoices.unshift([byDefault, byDefault.replace(":", " ")])
    for (const [value, label] of timeChoices) {
        const option = document.createElement("option")
        option.value = value
        option.textContent = value === byDefault ? `${label} (default)` : label
        $("time").append(option)
    }
    $("time").value = byDefault
}

function onTimeChoice() {
    $("time-note").hidden = $("time").value !== "movetime:0"
}

function onKey(event) {
    if (event.target.closest("input, select, textarea") || event.altKey || event.ctrlKey || event.metaKey) return
    const reviewView = $("review-view")
    if (reviewView && !reviewView.hidden) return  // the keys step through the review then
    const steps = {ArrowLeft: () => view.step(-1), ArrowRight: () => view.step(1),
                   Home: () => view.goTo(0), End: () => view.goTo(Infinity)}
    if (!steps[event.key]) return
    event.preventDefault()
    steps[event.key]()
}

$("setup").addEventListener("submit", newGame)
$("time").addEventListener("change", onTimeChoice)
$("move-now").addEventListener("click", () => { if (game && thinking) api.moveNow(game.id).catch(() => {}) })
$("hint").addEventListener("click", hint)
$("undo").addEventListener("click", () => act(api.undo))
$("draw").addEventListener("click", () => act(api.offerDraw, drawNote))
$("resign").addEventListener("click", () => act(api.resign))
$("review").addEventListener("click", review)
$("flip").addEventListener("click", () => view.flip())
$("your-games-button").addEventListener("click", () => toggleYourGames({onContinue: continueGame, onPlay: pickPersona}))
document.addEventListener("keydown", onKey)
// The server ends a game whose clock ran out when it is next asked.
setInterval(() => {
    if (game && !game.result && !busy && game.time.clock && view.timeLeft(game.turn) <= 0)
        api.getGame(game.id).then(state => { if (!busy) show(state) }).catch(() => {})
}, 1000)
loadChoices().then(onTimeChoice).catch(error => say(`No personas: ${error.message}`))
refresh()

// For the browser test.
window.aiPlayers = {board: view.board, game: () => game}
